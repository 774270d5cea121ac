#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "lib/collect/filehandler.hpp"
#include "tests/unit/support/test_support.hpp"

namespace trelvik {
namespace {

namespace fs = std::filesystem;

// What busybox ps prints on the camera while an archive is being made.
constexpr const char* kPsOutput =
    "PID   USER     TIME  COMMAND\n"
    "    1 root      0:03 /sbin/init\n"
    "  812 root      0:00 zip -r -q /var/spool/storage/SD_DISK/Trelvik_X/20261208_05_20_00.zip 20261208_05_20_00\n"
    "  901 root      0:01 /usr/local/packages/Trelvik/trelvik_daemon ACCC8E000001\n";

TEST(ProcessList, LooksForTheSecondWordInLinesOfTheFilteredList) {
  test::DeviceRoot root;
  const fs::path ps = root.path("/tools/ps");
  root.write("/tools/ps", std::string("#!/bin/sh\ncat <<'EOF'\n") + kPsOutput + "EOF\n");
  chmod(ps.c_str(), 0755);
  const std::string old_path = std::getenv("PATH");
  setenv("PATH", (ps.parent_path().string() + ":" + old_path).c_str(), 1);
  const struct {
    const char* grep;
    const char* word;
    int found;
  } cases[] = {
      {"zip", "20261208_05_20_00.zip", 1},
      {"zip", "20261209_00_00_00.zip", 0},
      {"trelvik_daemon", "ACCC8E000001", 1},
      {"trelvik_daemon", "20261208_05_20_00.zip", 0},  // on a line that grep dropped
      {"no such process", "", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ps_grep_and_check_if_included(c.grep, c.word), c.found) << c.grep << " / " << c.word;
  }
  // A search word is one argument of grep, never a command.
  const std::string marker = root.path("/pwned").string();
  for (const std::string& hostile :
       {"\"; touch " + marker + "; echo \"", "$(touch " + marker + ")", "`touch " + marker + "`"}) {
    EXPECT_EQ(ps_grep_and_check_if_included(hostile.c_str(), "zip"), 0) << hostile;
  }
  setenv("PATH", old_path.c_str(), 1);
  EXPECT_FALSE(fs::exists(marker));
}

TEST(FolderSizeAndListing, HostileFolderNamesStayText) {
  test::DeviceRoot root;
  const std::string folder = root.dir().string() + "/it's \"$(touch pwned)\" `touch pwned`";
  fs::create_directories(folder);
  test::write_file(folder + "/data", std::string(5000, 'd'));
  const std::uint64_t bytes = get_dir_size_bytes(folder.c_str());
  EXPECT_GE(bytes, 5120u);
  EXPECT_EQ(bytes % 1024, 0u);
  EXPECT_EQ(get_dir_size_bytes((root.dir().string() + "/missing").c_str()), 0u);

  // Names joined by commas, cut to fit `size` with its terminator.
  for (const char* name : {"c", "a", "b"}) test::write_file(folder + "/" + name, "");
  fs::remove(folder + "/data");
  const std::pair<std::size_t, const char*> listings[] = {{100, "a,b,c"}, {6, "a,b,c"}, {5, "a,b,"}, {4, "a,b"},
                                                          {3, "a,"},      {2, "a"},     {1, ""}};
  for (const auto& [size, names] : listings) {
    EXPECT_EQ(get_names_listed_from_directory(folder.c_str(), size), names) << size;
  }
  EXPECT_EQ(get_names_listed_from_directory((root.dir().string() + "/missing").c_str(), 100), "");
  EXPECT_FALSE(fs::exists("pwned"));
}

}  // namespace
}  // namespace trelvik
