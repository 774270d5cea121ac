#include "lib/fileutil.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "tests/unit/support/test_support.hpp"

namespace trelvik {
namespace {

namespace fs = std::filesystem;

std::string size_text(std::int64_t size, std::size_t buffer_size = 32) {
  std::string buffer(buffer_size, 'x');
  suffix_bytes(buffer.data(), buffer.size(), size);
  return buffer.c_str();
}

TEST(SuffixBytes, BoundariesAreInclusiveAndQuotientsRoundDown) {
  constexpr std::int64_t kTiB = std::int64_t{1} << 40;
  const struct {
    std::int64_t size;
    const char* text;
  } cases[] = {
      {0, "0 B"},
      {-1, "-1 B"},
      {INT64_MIN, "-9223372036854775808 B"},
      {1024, "1024 B"},
      {1025, "1 KiB"},
      {2047, "1 KiB"},
      {1048576, "1024 KiB"},
      {1048577, "1024 KiB"},
      {1049600, "1 MiB"},
      {std::int64_t{1} << 30, "1024 MiB"},
      {(std::int64_t{1} << 30) + (1 << 20), "1 GiB"},
      {5 * kTiB, "5 TiB"},
      {3000 * kTiB, "3000 TiB"},
      {INT64_MAX, "8388607 TiB"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(size_text(c.size), c.text) << c.size;
  }
  EXPECT_EQ(size_text(1024, 7), "1024 B");  // exact fit, terminator included
}

// In the child of a death test the captured log would die with it; print it
// to standard error on abort so that the fatal line itself can be matched.
void show_log_on_abort() {
  std::signal(SIGABRT, [](int) {
    for (const auto& line : test::captured_log()) std::fprintf(stderr, "%d %s\n", line.level, line.text.c_str());
    std::signal(SIGABRT, SIG_DFL);
    std::raise(SIGABRT);
  });
}

TEST(SuffixBytesDeathTest, TextThatDoesNotFitTheBufferIsFatal) {
  EXPECT_DEATH(
      {
        show_log_on_abort();
        char small[4];
        suffix_bytes(small, sizeof small, 1024);
      },
      "0 \\(lib/fileutil.cpp:[0-9]+, errno: [^)]*\\) snprintf for %lld %s returned 6, expected between 0 and 4");
  EXPECT_DEATH(
      {
        char exact_minus_one[6];
        suffix_bytes(exact_minus_one, sizeof exact_minus_one, 1024);
      },
      "");
}

TEST(FileSize, HumanReadableSizeOfAFileAndOfAMissingOne) {
  test::DeviceRoot root;
  root.write("/f", std::string(2048, 'a'));
  char text[24] = {};
  filesize_human_readable(text, sizeof text, root.path("/f").c_str());
  EXPECT_STREQ(text, "2 KiB");
  EXPECT_EQ(filesize(root.path("/f").c_str()), 2048);

  test::clear_log();
  const std::string missing = root.path("/missing");
  filesize_human_readable(text, sizeof text, missing.c_str());
  EXPECT_STREQ(text, "-1 B");
  ASSERT_EQ(test::captured_log().size(), 1u);
  EXPECT_EQ(test::captured_log()[0].level, LOG_ERR);
  EXPECT_NE(test::captured_log()[0].text.find(
                "errno: No such file or directory) Failed getting filesize of " + missing),
            std::string::npos);
}

TEST(FileUtil, PrimitivesFollowLinksAndLogFailuresAtDebugLevel) {
  test::DeviceRoot root;
  root.write("/dir/file", "old");
  root.write("/other", "new");
  fs::create_symlink(root.path("/dir"), root.path("/dir_link"));
  const std::string dir = root.path("/dir"), file = root.path("/dir/file"), other = root.path("/other");
  const std::string link = root.path("/dir_link"), missing = root.path("/missing");
  EXPECT_TRUE(is_directory(dir.c_str()) && is_directory(link.c_str()) && !is_file(dir.c_str()));
  EXPECT_TRUE(is_file(file.c_str()) && !is_directory(file.c_str()));
  EXPECT_FALSE(is_file(missing.c_str()) || is_directory(missing.c_str()) || is_file(nullptr));

  test::clear_log();
  EXPECT_TRUE(file_rename(other.c_str(), file.c_str()));  // replaces the target
  EXPECT_EQ(root.read("/dir/file"), "new");
  EXPECT_TRUE(test::captured_log().empty());
  errno = 0;
  EXPECT_FALSE(file_remove(missing.c_str()));
  EXPECT_FALSE(file_rename(missing.c_str(), file.c_str()));
  EXPECT_EQ(errno, 0);
  ASSERT_EQ(test::captured_log().size(), 2u);
  EXPECT_EQ(test::captured_log()[0].level, LOG_DEBUG);
  EXPECT_EQ(test::captured_log()[0].text, "Could not remove '" + missing + "': No such file or directory");
  EXPECT_EQ(test::captured_log()[1].text,
            "Could not rename '" + missing + "'->'" + file + "': No such file or directory");
  EXPECT_FALSE(file_remove(dir.c_str()));  // not empty
  EXPECT_TRUE(file_remove(file.c_str()) && file_remove(dir.c_str()));
}

TEST(FileUtil, AccessPredicates) {
  test::DeviceRoot root;
  root.write("/plain", "x");
  chmod(root.path("/plain").c_str(), 0644);
  root.write("/tool", "#!/bin/sh\n");
  chmod(root.path("/tool").c_str(), 0755);
  const std::string plain = root.path("/plain"), tool = root.path("/tool"), missing = root.path("/missing");
  EXPECT_TRUE(is_readable(plain.c_str()));
  EXPECT_TRUE(is_writable(plain.c_str()));
  EXPECT_FALSE(is_executable(plain.c_str()));  // no execute bit at all: not even for root
  EXPECT_TRUE(is_executable(tool.c_str()));
  for (const char* path : {missing.c_str(), static_cast<const char*>(nullptr)}) {
    EXPECT_FALSE(is_readable(path));
    EXPECT_FALSE(is_writable(path));
    EXPECT_FALSE(is_executable(path));
  }
}

TEST(FileUtil, EmptyFileCreatesOrTruncates) {
  test::DeviceRoot root;
  root.write("/full", "0123456789");
  test::clear_log();
  EXPECT_TRUE(empty_file_if_possible(root.path("/full").c_str()));
  EXPECT_TRUE(empty_file_if_possible(root.path("/new").c_str()));
  EXPECT_EQ(fs::file_size(root.path("/full")), 0u);
  EXPECT_EQ(fs::file_size(root.path("/new")), 0u);
  EXPECT_FALSE(empty_file_if_possible(root.path("/no/such/folder/f").c_str()));
  EXPECT_TRUE(test::captured_log().empty());
}

TEST(FileUtil, CopyNeverOverwritesAndGivesDefaultPermissions) {
  test::DeviceRoot root;
  root.write("/src", "radar");
  chmod(root.path("/src").c_str(), 0700);
  const std::string src = root.path("/src"), dest = root.path("/dest");
  const mode_t old_mask = umask(022);
  EXPECT_TRUE(file_copy(src.c_str(), dest.c_str()));
  umask(old_mask);
  EXPECT_EQ(root.read("/dest"), root.read("/src"));
  EXPECT_EQ(fs::status(dest).permissions(), fs::perms(0644));

  root.write("/src", "newer");
  test::clear_log();
  EXPECT_FALSE(file_copy(src.c_str(), dest.c_str()));
  EXPECT_EQ(root.read("/dest"), "radar");
  ASSERT_EQ(test::captured_log().size(), 1u);
  EXPECT_EQ(test::captured_log()[0].level, LOG_WARNING);
  EXPECT_EQ(test::captured_log()[0].text.rfind("Could not copy '" + src + "' to '" + dest + "': ", 0), 0u);
  EXPECT_GT(test::captured_log()[0].text.size(), ("Could not copy '" + src + "' to '" + dest + "': ").size());

  test::clear_log();
  EXPECT_FALSE(file_copy(root.path("/missing").c_str(), root.path("/other").c_str()));
  EXPECT_TRUE(test::logged(LOG_WARNING, "Could not copy '" + root.path("/missing").string() + "' to '"));
  EXPECT_FALSE(fs::exists(root.path("/other")));
}

TEST(FileUtil, WholeFileReadAndWrite) {
  test::DeviceRoot root;
  const std::string path = root.path("/f");
  ASSERT_TRUE(file_put_string(path.c_str(), "line 1\nline 2\n"));
  EXPECT_EQ(file_get_contents(path.c_str()), "line 1\nline 2\n");
  ASSERT_TRUE(file_put_string(path.c_str(), ""));
  EXPECT_EQ(file_get_contents(path.c_str()), "");
  root.write("/binary", std::string("a\0b", 3));
  EXPECT_EQ(file_get_contents(root.path("/binary").c_str()), std::string("a\0b", 3));

  test::clear_log();
  const std::string missing = root.path("/no/such/f");
  EXPECT_EQ(file_get_contents(missing.c_str()), std::nullopt);
  EXPECT_FALSE(file_put_string(missing.c_str(), "x"));
  ASSERT_EQ(test::captured_log().size(), 2u);
  EXPECT_EQ(test::captured_log()[0].text.rfind("Could not read contents of '" + missing + "': ", 0), 0u);
  EXPECT_EQ(test::captured_log()[1].text.rfind("Could not put contents of '" + missing + "': ", 0), 0u);
  EXPECT_EQ(test::captured_log()[1].level, LOG_WARNING);
}

TEST(DirRemoveRecursive, CountsEveryEntryAndNeverFollowsLinks) {
  test::DeviceRoot root;
  root.write("/tree/a", "1");
  root.write("/tree/b", "2");
  root.write("/tree/sub/c", "3");
  EXPECT_EQ(dir_remove_recursive(root.path("/tree").c_str()), 5u);
  EXPECT_FALSE(fs::exists(root.path("/tree")));

  root.write("/outside/keep", "precious");
  root.write("/tree/sub/file", "x");
  fs::create_directory_symlink(root.path("/outside"), root.path("/tree/sub/folder_link"));
  fs::create_symlink(root.path("/outside/keep"), root.path("/tree/file_link"));
  fs::create_symlink(root.path("/nowhere"), root.path("/tree/dangling"));
  EXPECT_EQ(dir_remove_recursive(root.path("/tree").c_str()), 6u);
  EXPECT_FALSE(fs::exists(root.path("/tree")));
  EXPECT_EQ(root.read("/outside/keep"), "precious");

  test::clear_log();
  EXPECT_EQ(dir_remove_recursive(root.path("/tree").c_str()), 0u);
  EXPECT_TRUE(test::logged(LOG_WARNING, "Could not open dir for removal: " + root.path("/tree").string()));
}

// Run as an unprivileged user (root removes everything): a file in a
// read-only folder stays, and so do its folder and the top.
void remove_tree_with_an_unremovable_file() {
  if (geteuid() == 0 && setuid(65534) != 0) std::exit(3);
  char top[] = "/tmp/trelvik-remove-XXXXXX";
  if (mkdtemp(top) == nullptr) std::exit(4);
  const fs::path dir(top);
  test::write_file(dir / "a", "1");
  test::write_file(dir / "b", "2");
  fs::create_directory(dir / "sub");
  test::write_file(dir / "sub" / "c", "3");
  chmod((dir / "sub").c_str(), 0555);
  test::clear_log();
  const unsigned removed = dir_remove_recursive(top);
  std::fprintf(stderr, "removed=%u\n", removed);
  for (const auto& line : test::captured_log()) std::fprintf(stderr, "%d %s\n", line.level, line.text.c_str());
  chmod((dir / "sub").c_str(), 0755);
  dir_remove_recursive(top);
  std::exit(0);
}

TEST(DirRemoveRecursiveDeathTest, UnremovableFileIsSkippedWithADebugLine) {
  EXPECT_EXIT(remove_tree_with_an_unremovable_file(), testing::ExitedWithCode(0),
              "removed=2\n"
              "7 Could not remove '/tmp/trelvik-remove-[^/]*/sub/c': Permission denied\n"
              "7 Could not remove '/tmp/trelvik-remove-[^/]*/sub': Directory not empty\n"
              "7 Could not remove '/tmp/trelvik-remove-[^/]*': Directory not empty\n");
}

TEST(DirMakeRecursive, CreatesOnlyPrefixesThatEndBeforeASlash) {
  test::DeviceRoot root;
  const std::string base = root.dir().string();
  test::clear_log();
  EXPECT_TRUE(dir_make_recursive((base + "/a/b/c/").c_str()));
  EXPECT_TRUE(fs::is_directory(base + "/a/b/c"));
  EXPECT_TRUE(dir_make_recursive((base + "/x/y/z").c_str()));
  EXPECT_TRUE(fs::is_directory(base + "/x/y"));
  EXPECT_FALSE(fs::exists(base + "/x/y/z"));
  EXPECT_TRUE(dir_make_recursive((base + "/a/b/c/").c_str()));  // all there already
  EXPECT_TRUE(test::captured_log().empty());

  root.write("/file", "not a folder");
  EXPECT_FALSE(dir_make_recursive((base + "/file/sub/").c_str()));
  EXPECT_TRUE(test::logged(LOG_ERR, "errno: File exists) Could not create directory '" + base + "/file'"));

  const fs::path here = fs::current_path();
  fs::current_path(base);
  test::clear_log();
  EXPECT_FALSE(dir_make_recursive("rel/dir/"));
  EXPECT_FALSE(dir_make_recursive(nullptr));
  EXPECT_FALSE(fs::exists(base + "/rel"));
  fs::current_path(here);
  ASSERT_EQ(test::captured_log().size(), 2u);
  EXPECT_NE(test::captured_log()[0].text.find(") dir_make_recursive: Path must be absolute"), std::string::npos);
}

TEST(DfLine, UsageIsReadBackwardsFromThePercentSign) {
  const struct {
    const char* line;
    std::optional<int> pcent;
  } cases[] = {
      {"/dev/mmcblk0p1  1000000 890000 110000  89% /var/spool/storage/SD_DISK\n", 89},
      {"/dev/mmcblk0p1  1000000 900000 100000  90% /x\n", 90},
      {"/dev/mmcblk0p1  1000000 1000000 0 100% /x\n", 100},
      {"/dev/x 1 1 1 1089% /x\n", 89},  // four digits: the last three
      {"/dev/x 1 1 1 0% /x\n", 0},
      {"/dev/x 1 1 1 7% /x 55% more\n", 7},  // the first sign counts
      {"/dev/x 1 1 1 -% /x\n", 0},
      {"12%\n", 2},  // never the line's first character
      {"5% /x\n", 0},
      {"%\n", 0},
      {"/dev/x 1 1 1 no sign /x\n", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(df_line_use_pcent(c.line), c.pcent) << c.line;
  }
}

}  // namespace
}  // namespace trelvik
