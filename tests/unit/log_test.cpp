#include "lib/base/log.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <new>

#include "lib/base/dateutil.hpp"
#include "tests/unit/support/test_support.hpp"

namespace trelvik {
namespace {

TEST(Log, PrefixNamesSourceLineAndErrnoThenClearsIt) {
  test::clear_log();
  errno = ENOENT;
  const int line = __LINE__ + 1;
  LOG_ERROR("Could not open file '%s'", "x");
  EXPECT_EQ(errno, 0);
  LOG_ERROR("again");
  ASSERT_EQ(test::captured_log().size(), 2u);
  EXPECT_EQ(test::captured_log()[0].level, LOG_ERR);
  EXPECT_EQ(test::captured_log()[0].text, "(tests/unit/log_test.cpp:" + std::to_string(line) +
                                              ", errno: No such file or directory) Could not open file 'x'");
  EXPECT_TRUE(test::captured_log()[1].text.ends_with(", errno: None) again"));
}

// The child's captured log goes out on its standard error when it aborts, so
// that the death test can see the line and the abort together.
void print_log_and_exit(int) {
  for (const auto& line : test::captured_log()) std::fprintf(stderr, "%d %s\n", line.level, line.text.c_str());
  _exit(3);
}

constexpr const char* kOutOfMemoryLine = "0 \\(lib/base/log\\.cpp:[0-9]+, errno: [^)]*\\) Out of memory\\.";

TEST(LogDeathTest, AllocationFailureLogsOutOfMemoryAndAborts) {
  EXPECT_EXIT(
      {
        std::signal(SIGABRT, print_log_and_exit);
        test::clear_log();
        if (const std::new_handler handler = std::get_new_handler()) handler();
      },
      ::testing::ExitedWithCode(3), kOutOfMemoryLine);
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer's allocator reports by itself
  EXPECT_EXIT(
      {
        std::signal(SIGABRT, print_log_and_exit);
        test::clear_log();
        volatile std::size_t huge = SIZE_MAX / 2;
        ::operator delete(::operator new(huge));
      },
      ::testing::ExitedWithCode(3), kOutOfMemoryLine);
#endif
}

TEST(DateUtil, FormatsAndReportsTooSmallBuffers) {
  test::clear_log();
  char row[20] = {};
  date_format_now(row, sizeof row, "%Y-%m-%d,%H:%M:%S");
  EXPECT_EQ(std::string(row).size(), 19u);

  char small[5] = {'x', 'x', 'x', 'x', 'x'};
  date_format_now(small, sizeof small, "%Y-%m-%d");
  for (const char c : small) EXPECT_EQ(c, '\0');
  EXPECT_TRUE(test::logged(LOG_ERR, "The time string exceeds the given buffer, or is empty."));
}

}  // namespace
}  // namespace trelvik
