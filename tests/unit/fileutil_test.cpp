#include "lib/base/fileutil.hpp"

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

TEST(SuffixBytes, BoundariesAreInclusiveAndQuotientsRoundDown) {
  constexpr std::int64_t kTiB = std::int64_t{1} << 40;
  const std::pair<std::int64_t, const char*> cases[] = {
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
  char text[32];
  for (const auto& [size, expected] : cases) {
    suffix_bytes(text, sizeof text, size);
    EXPECT_STREQ(text, expected) << size;
  }
  char exact[7];  // "1024 B" and its terminator
  suffix_bytes(exact, sizeof exact, 1024);
  EXPECT_STREQ(exact, "1024 B");
}

TEST(SuffixBytesDeathTest, TextThatDoesNotFitTheBufferIsFatal) {
  // The captured log dies with the child: print it on abort so that the
  // fatal line itself can be matched.
  EXPECT_DEATH(
      {
        std::signal(SIGABRT, [](int) {
          for (const auto& line : test::captured_log()) std::fprintf(stderr, "%d %s\n", line.level, line.text.c_str());
          std::signal(SIGABRT, SIG_DFL);
          std::raise(SIGABRT);
        });
        char one_short[6];
        suffix_bytes(one_short, sizeof one_short, 1024);
      },
      "0 \\(lib/base/fileutil.cpp:[0-9]+, errno: [^)]*\\) snprintf for %lld %s returned 6, expected between 0 and 6");
}

TEST(FileUtil, SizesPrimitivesAndTheirDebugLines) {
  test::DeviceRoot root;
  root.write("/dir/file", std::string(2048, 'a'));
  root.write("/other", "new");
  fs::create_symlink(root.path("/dir"), root.path("/dir_link"));
  const std::string dir = root.path("/dir"), file = root.path("/dir/file"), other = root.path("/other");
  const std::string link = root.path("/dir_link"), missing = root.path("/missing");
  EXPECT_TRUE(is_directory(dir.c_str()) && is_directory(link.c_str()) && !is_file(dir.c_str()));
  EXPECT_TRUE(is_file(file.c_str()) && !is_directory(file.c_str()));
  EXPECT_FALSE(is_file(missing.c_str()) || is_directory(missing.c_str()) || is_file(nullptr));
  chmod(file.c_str(), 0644);
  chmod(other.c_str(), 0755);
  EXPECT_TRUE(is_readable(file.c_str()) && is_writable(file.c_str()) && is_executable(other.c_str()));
  EXPECT_FALSE(is_executable(file.c_str()));  // no execute bit at all: not even for root
  EXPECT_FALSE(is_readable(missing.c_str()) || is_writable(nullptr) || is_executable(missing.c_str()));

  char text[24] = {};
  filesize_human_readable(text, sizeof text, file.c_str());
  EXPECT_STREQ(text, "2 KiB");
  test::clear_log();
  filesize_human_readable(text, sizeof text, missing.c_str());
  EXPECT_STREQ(text, "-1 B");
  ASSERT_EQ(test::captured_log().size(), 1u);
  EXPECT_TRUE(test::logged(LOG_ERR, "errno: No such file or directory) Failed getting filesize of " + missing));

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

TEST(FileUtil, WholeFilesAndCopies) {
  test::DeviceRoot root;
  const std::string path = root.path("/f"), missing = root.path("/no/such/f");
  ASSERT_TRUE(file_put_string(path.c_str(), "line 1\nline 2\n"));
  EXPECT_EQ(file_get_contents(path.c_str()), "line 1\nline 2\n");
  root.write("/binary", std::string("a\0b", 3));
  EXPECT_EQ(file_get_contents(root.path("/binary").c_str()), std::string("a\0b", 3));
  EXPECT_TRUE(empty_file_if_possible(path.c_str()) && empty_file_if_possible(root.path("/new").c_str()));
  EXPECT_EQ(file_get_contents(path.c_str()), "");
  EXPECT_EQ(root.read("/new"), "");
  test::clear_log();
  EXPECT_FALSE(empty_file_if_possible(missing.c_str()));
  EXPECT_EQ(file_get_contents(missing.c_str()), std::nullopt);
  EXPECT_FALSE(file_put_string(missing.c_str(), "x"));
  ASSERT_EQ(test::captured_log().size(), 2u);
  EXPECT_EQ(test::captured_log()[0].text.rfind("Could not read contents of '" + missing + "': ", 0), 0u);
  EXPECT_EQ(test::captured_log()[1].text.rfind("Could not put contents of '" + missing + "': ", 0), 0u);
  EXPECT_EQ(test::captured_log()[1].level, LOG_WARNING);

  // A copy gets default permissions and never overwrites.
  root.write("/src", "radar");
  chmod(root.path("/src").c_str(), 0700);
  const std::string src = root.path("/src"), dest = root.path("/dest");
  const mode_t old_mask = umask(022);
  EXPECT_TRUE(file_copy(src.c_str(), dest.c_str()));
  umask(old_mask);
  EXPECT_EQ(fs::status(dest).permissions(), fs::perms(0644));
  root.write("/src", "newer");
  test::clear_log();
  EXPECT_FALSE(file_copy(src.c_str(), dest.c_str()));
  EXPECT_EQ(root.read("/dest"), "radar");
  ASSERT_EQ(test::captured_log().size(), 1u);
  EXPECT_EQ(test::captured_log()[0].level, LOG_WARNING);
  const std::string prefix = "Could not copy '" + src + "' to '" + dest + "': ";
  EXPECT_TRUE(test::captured_log()[0].text.starts_with(prefix) && test::captured_log()[0].text.size() > prefix.size());
  EXPECT_FALSE(file_copy(missing.c_str(), root.path("/other").c_str()));
  EXPECT_FALSE(fs::exists(root.path("/other")));
}

TEST(DirRemoveRecursive, CountsEveryEntryAndNeverFollowsLinks) {
  test::DeviceRoot root;
  root.write("/outside/keep", "precious");
  root.write("/tree/a", "1");
  root.write("/tree/sub/file", "x");
  fs::create_directory_symlink(root.path("/outside"), root.path("/tree/sub/folder_link"));
  fs::create_symlink(root.path("/outside/keep"), root.path("/tree/file_link"));
  fs::create_symlink(root.path("/nowhere"), root.path("/tree/dangling"));
  EXPECT_EQ(dir_remove_recursive(root.path("/tree").c_str()), 7u);
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
  fs::create_directory(dir / "sub");
  test::write_file(dir / "sub" / "c", "3");
  chmod((dir / "sub").c_str(), 0555);
  test::clear_log();
  std::fprintf(stderr, "removed=%u\n", dir_remove_recursive(top));
  for (const auto& line : test::captured_log()) std::fprintf(stderr, "%d %s\n", line.level, line.text.c_str());
  chmod((dir / "sub").c_str(), 0755);
  dir_remove_recursive(top);
  std::exit(0);
}

TEST(DirRemoveRecursiveDeathTest, UnremovableFileIsSkippedWithADebugLine) {
  EXPECT_EXIT(remove_tree_with_an_unremovable_file(), testing::ExitedWithCode(0),
              "removed=1\n"
              "7 Could not remove '/tmp/trelvik-remove-[^/]*/sub/c': Permission denied\n"
              "7 Could not remove '/tmp/trelvik-remove-[^/]*/sub': Directory not empty\n"
              "7 Could not remove '/tmp/trelvik-remove-[^/]*': Directory not empty\n");
}

TEST(DirMakeRecursive, CreatesOnlyPrefixesThatEndBeforeASlash) {
  test::DeviceRoot root;
  const std::string base = root.dir().string();
  test::clear_log();
  EXPECT_TRUE(dir_make_recursive((base + "/a/b/c/").c_str()) && dir_make_recursive((base + "/x/y/z").c_str()));
  EXPECT_TRUE(fs::is_directory(base + "/a/b/c") && fs::is_directory(base + "/x/y") && !fs::exists(base + "/x/y/z"));
  EXPECT_TRUE(dir_make_recursive((base + "/a/b/c/").c_str()));  // all there already
  EXPECT_TRUE(test::captured_log().empty());

  root.write("/file", "not a folder");
  EXPECT_FALSE(dir_make_recursive((base + "/file/sub/").c_str()));
  EXPECT_TRUE(test::logged(LOG_ERR, "errno: File exists) Could not create directory '" + base + "/file'"));

  const fs::path here = fs::current_path();
  fs::current_path(base);
  test::clear_log();
  EXPECT_FALSE(dir_make_recursive("rel/dir/") || dir_make_recursive(nullptr));
  EXPECT_FALSE(fs::exists(base + "/rel"));
  fs::current_path(here);
  ASSERT_EQ(test::captured_log().size(), 2u);
  EXPECT_NE(test::captured_log()[0].text.find(") dir_make_recursive: Path must be absolute"), std::string::npos);
}

}  // namespace
}  // namespace trelvik
