#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "lib/filehandler.hpp"
#include "tests/unit/support/test_support.hpp"

namespace trelvik {
namespace {

namespace fs = std::filesystem;

// Puts a folder of stand-in tools first on PATH for the life of the object.
class FakeTools {
 public:
  explicit FakeTools(const fs::path& dir) : dir_(dir), old_path_(std::getenv("PATH")) {
    fs::create_directories(dir_);
    setenv("PATH", (dir_.string() + ":" + old_path_).c_str(), 1);
  }
  ~FakeTools() { setenv("PATH", old_path_.c_str(), 1); }
  FakeTools(const FakeTools&) = delete;
  FakeTools& operator=(const FakeTools&) = delete;

  void add(const std::string& name, const std::string& script) const {
    test::write_file(dir_ / name, "#!/bin/sh\n" + script);
    chmod((dir_ / name).c_str(), 0755);
  }

 private:
  fs::path dir_;
  std::string old_path_;
};

// What busybox ps prints on the camera while an archive is being made.
constexpr const char* kPsOutput =
    "PID   USER     TIME  COMMAND\n"
    "    1 root      0:03 /sbin/init\n"
    "  812 root      0:00 zip -r -q /var/spool/storage/SD_DISK/Trelvik_X/20261208_05_20_00.zip 20261208_05_20_00\n"
    "  901 root      0:01 /usr/local/packages/Trelvik/trelvik_daemon ACCC8E000001\n";

TEST(ProcessList, LooksForTheSecondWordInLinesOfTheFilteredList) {
  test::DeviceRoot root;
  FakeTools tools(root.path("/tools"));
  tools.add("ps", std::string("cat <<'EOF'\n") + kPsOutput + "EOF\n");
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
  for (const std::string& hostile : {"\"; touch " + marker + "; echo \"", "$(touch " + marker + ")",
                                    "`touch " + marker + "`"}) {
    EXPECT_EQ(ps_grep_and_check_if_included(hostile.c_str(), "zip"), 0) << hostile;
  }
  EXPECT_FALSE(fs::exists(marker));
}

TEST(FolderSize, KibibytesOfDuTimes1024) {
  const struct {
    const char* line;
    std::uint64_t bytes;
  } cases[] = {
      {"100\t/var/spool/storage/SD_DISK/x\n", 102400},
      {"0\t/x\n", 0},
      {"-4\t/x\n", 0},
      {"du: cannot access '/x': No such file or directory\n", 0},
      {"", 0},
      {"8388608\n", 8589934592},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_du_kib(c.line), c.bytes) << c.line;

  test::DeviceRoot root;
  FakeTools tools(root.path("/tools"));
  // The last line counts: du prints the total last.
  tools.add("du", "printf '4\\t%s/a\\n100\\t%s\\n' \"$2\" \"$2\"\n");
  EXPECT_EQ(get_dir_size_bytes("/var/spool/storage/SD_DISK/x"), 102400u);
  tools.add("du", "exit 1\n");
  EXPECT_EQ(get_dir_size_bytes("/missing"), 0u);
}

TEST(FolderSize, RealDuOnAFolderWithAHostileName) {
  test::DeviceRoot root;
  const std::string folder = root.dir().string() + "/it's \"$(touch pwned)\" `touch pwned`";
  fs::create_directories(folder);
  test::write_file(folder + "/data", std::string(5000, 'd'));
  const std::uint64_t bytes = get_dir_size_bytes(folder.c_str());
  EXPECT_GE(bytes, 5120u);
  EXPECT_EQ(bytes % 1024, 0u);
  EXPECT_FALSE(fs::exists("pwned"));
  EXPECT_EQ(get_dir_size_bytes((root.dir().string() + "/missing").c_str()), 0u);
}

TEST(FolderListing, NamesJoinedByCommasWithinTheSize) {
  test::DeviceRoot root;
  const std::string folder = root.dir().string() + "/list $(touch pwned) \"q\"";
  fs::create_directories(folder);
  for (const char* name : {"c", "a", "b"}) test::write_file(folder + "/" + name, "");
  const struct {
    std::size_t size;
    const char* names;
  } cases[] = {
      {100, "a,b,c"}, {6, "a,b,c"}, {5, "a,b,"}, {4, "a,b"}, {3, "a,"}, {2, "a"}, {1, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(get_names_listed_from_directory(folder.c_str(), c.size), c.names) << c.size;
  }
  EXPECT_FALSE(fs::exists("pwned"));
  EXPECT_EQ(get_names_listed_from_directory((root.dir().string() + "/missing").c_str(), 100), "");
}

}  // namespace
}  // namespace trelvik
