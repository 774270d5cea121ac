#include "lib/ptz_test.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <string>

#include "tests/unit/support/test_support.hpp"

namespace trelvik {
namespace {

constexpr const char* kLocaldata = "/usr/local/packages/Trelvik/localdata";
constexpr const char* kInterval = "/usr/local/packages/Trelvik/localdata/automatic_PTZ_test_interval.info";
constexpr const char* kTimes = "/usr/local/packages/Trelvik/localdata/automatic_PTZ_test_times.info";
TEST(PtzTest, ParseInterval) {
  constexpr auto kMax = std::numeric_limits<std::uint64_t>::max();
  struct Case {
    std::string text;
    std::uint64_t value;
  } cases[] = {
      {"T:180\n", 180}, {"T:180", 180}, {"T:3\nT:5\n", 3}, {"T:18446744073709551615\n", kMax},
      {"T:99999999999999999999\n", kMax},  // scanf saturates
      {"180\n", 0}, {"", 0}, {"\n", 0}, {"T:\n", 0}, {"T:x\n", 0}, {"t:180\n", 0}, {"X\nT:5\n", 0},
      {"T:1" + std::string(120, '0'), kMax},  // only the first 99 bytes are looked at
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ptz_test_parse_interval(c.text), c.value);
  }
}

TEST(PtzTest, ParseGivenTimes) {
  const std::string line150(150, '1');
  struct Case {
    std::string text;
    std::optional<std::string> times;
  } cases[] = {
      {"", std::nullopt},
      {"\n", ""},
      {"08:00,20:00\n", "08:00,20:00"},
      {"08:00,20:00", "08:00,20:00"},
      {"08:00\"20:00\n", "08:00"},
      {"\"08:00\n", ""},
      {"08:00\n\"x\n", "08:00"},
      {line150 + "\n", std::string(99, '1')},
      {std::string("08:00\0x", 7), "08:00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ptz_test_parse_given_times(c.text), c.times);
  }
}

TEST(PtzTest, SettingsFilesRoundTrip) {
  test::DeviceRoot root;
  EXPECT_EQ(ptz_test_interval_get(), 0u);
  EXPECT_FALSE(ptz_test_given_times_get());

  ASSERT_TRUE(ptz_test_interval_set(180));
  EXPECT_EQ(root.read(kInterval), "T:180\n");
  EXPECT_EQ(ptz_test_interval_get(), 180u);
  ASSERT_TRUE(ptz_test_interval_set(std::numeric_limits<std::uint64_t>::max()));
  EXPECT_EQ(root.read(kInterval), "T:18446744073709551615\n");

  ASSERT_TRUE(ptz_test_given_times_set("08:00,20:00"));
  EXPECT_EQ(root.read(kTimes), "08:00,20:00\n");
  EXPECT_EQ(ptz_test_given_times_get(), "08:00,20:00");
  EXPECT_EQ(ptz_test_interval_get(), std::numeric_limits<std::uint64_t>::max());  // independent files

  test::clear_log();
  ASSERT_TRUE(ptz_test_interval_set(0));
  ASSERT_TRUE(ptz_test_given_times_set(""));
  EXPECT_FALSE(std::filesystem::exists(root.path(kInterval)));
  EXPECT_FALSE(std::filesystem::exists(root.path(kTimes)));
  EXPECT_FALSE(ptz_test_given_times_get());
  EXPECT_TRUE(test::captured_log().empty());

  // Removing what is not there is no failure; only file_remove's debug line shows it.
  ASSERT_TRUE(ptz_test_interval_set(0));
  ASSERT_TRUE(ptz_test_given_times_set(""));
  ASSERT_EQ(test::captured_log().size(), 2u);
  EXPECT_TRUE(test::logged(LOG_DEBUG, "Could not remove '"));
  EXPECT_FALSE(std::filesystem::exists(root.path(kInterval)));

  // Anything left beside the settings after all of this is a stray temporary file.
  EXPECT_TRUE(std::filesystem::is_empty(root.path(kLocaldata)));
}

TEST(PtzTest, SettingThatCannotBeStoredKeepsTheOldState) {
  test::DeviceRoot root;
  root.write(kTimes, "07:00\n");
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

  std::filesystem::remove_all(root.path(kLocaldata));
  root.write(kLocaldata, "not a folder");
  test::clear_log();
  EXPECT_FALSE(ptz_test_given_times_set("08:00"));
  EXPECT_TRUE(test::logged(LOG_ERR, "Could not open file '" + root.path(kTimes).string() + "'"));
  EXPECT_EQ(ptz_test_interval_get(), 0u);
  EXPECT_FALSE(ptz_test_given_times_get());
}

}  // namespace
}  // namespace trelvik
