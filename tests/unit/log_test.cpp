#include "lib/log.hpp"

#include <gtest/gtest.h>

#include <cerrno>

#include "lib/dateutil.hpp"
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
