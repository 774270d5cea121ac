#include "lib/web/ptz_test.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <string>

#include "tests/unit/support/test_support.hpp"

namespace trelvik {
namespace {

constexpr const char* kInterval = "/usr/local/packages/Trelvik/localdata/automatic_PTZ_test_interval.info";

TEST(PtzTest, ParseSettings) {
  constexpr auto kMax = std::numeric_limits<std::uint64_t>::max();
  const std::pair<std::string, std::uint64_t> intervals[] = {
      {"T:180\n", 180},
      {"T:180", 180},
      {"T:3\nT:5\n", 3},
      {"T:18446744073709551615\n", kMax},
      {"T:99999999999999999999\n", kMax},  // scanf saturates
      {"180\n", 0},
      {"", 0},
      {"\n", 0},
      {"T:\n", 0},
      {"T:x\n", 0},
      {"t:180\n", 0},
      {"X\nT:5\n", 0},
      {"T:1" + std::string(120, '0'), kMax},  // only the first 99 bytes are looked at
  };
  for (const auto& [text, value] : intervals) EXPECT_EQ(ptz_test_parse_interval(text), value) << text;

  const std::pair<std::string, std::optional<std::string>> times[] = {
      {"", std::nullopt},
      {"\n", ""},
      {"08:00,20:00\n", "08:00,20:00"},
      {"08:00,20:00", "08:00,20:00"},
      {"08:00\"20:00\n", "08:00"},
      {"\"08:00\n", ""},
      {"08:00\n\"x\n", "08:00"},
      {std::string(150, '1') + "\n", std::string(99, '1')},
      {std::string("08:00\0x", 7), "08:00"},
  };
  for (const auto& [text, value] : times) EXPECT_EQ(ptz_test_parse_given_times(text), value) << text;
}

TEST(PtzTest, SettingThatCannotBeRemovedIsAnError) {
  test::DeviceRoot root;
  // The interval path is a folder with something in it: it can be neither
  // replaced nor removed, whoever runs the test.
  root.write(std::string(kInterval) + "/keep", "x");
  test::clear_log();
  EXPECT_FALSE(ptz_test_interval_set(120));
  EXPECT_TRUE(test::logged(LOG_ERR, "Could not open file '" + root.path(kInterval).string() + "'"));
  test::clear_log();
  EXPECT_FALSE(ptz_test_interval_set(0));
  EXPECT_TRUE(test::logged(LOG_ERR, "Could not remove file '" + root.path(kInterval).string() + "'"));
  EXPECT_EQ(errno, 0);
  EXPECT_EQ(ptz_test_interval_get(), 0u);
}

}  // namespace
}  // namespace trelvik
