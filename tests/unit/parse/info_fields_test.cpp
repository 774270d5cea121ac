#include "lib/parse/session_info.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace trelvik {
namespace {

TEST(InfoFields, RulesAndValues) {
  EXPECT_EQ(update_duration("0 Days 23 hours 59 minutes\n"), "1 Days 0 hours 0 minutes");
  EXPECT_EQ(update_duration("0 Days 25 hours 70 minutes\n"), "1 Days 2 hours 11 minutes");
  EXPECT_EQ(update_duration("1 Days 0 hours 0 minutes\n"), "1 Days 0 hours 1 minutes");  // a day is 1440 minutes
  EXPECT_EQ(update_duration("soon\n"), std::nullopt);
  EXPECT_EQ(update_data_points("abc\r\n"), "1");
  EXPECT_EQ(update_data_points(" 41\n"), "42");
  EXPECT_EQ(update_data_points("4294967295\n"), "0");

  // No blank after the colon, other letter case, a longer name: no match, so
  // the field is appended; so is a fresh duration after an unreadable one.
  const std::pair<const char*, const char*> rewrites[] = {
      {"Collected Data Points:7\n", "Collected Data Points:7\nCollected Data Points: 1\n"},
      {"collected data points: 7\n", "collected data points: 7\nCollected Data Points: 1\n"},
  };
  for (const auto& [text, result] : rewrites) {
    EXPECT_EQ(session_info_rewrite(text, "Collected Data Points", "1", update_data_points), result);
  }
  EXPECT_EQ(session_info_rewrite("Durations: 1 Days 0 hours 0 minutes\nDuration: x\n", "Duration",
                                 "0 Days 0 hours 0 minutes", update_duration),
            "Durations: 1 Days 0 hours 0 minutes\nDuration: x\nDuration: 0 Days 0 hours 0 minutes\n");

  const std::string text =
      "Model Name: Q\r\nStop Time of the session: Still active\r\nCollected Data Points: 5\n"
      "Duration: 0 Days 0 hours 9 minutes\nSession Size: 1 KiB\r\n";
  EXPECT_EQ(session_info_close(text, "Mon Dec  7 10:00:00 UTC 2026"),
            "Model Name: Q\r\nCollected Data Points: 5\nDuration: 0 Days 0 hours 9 minutes\n"
            "Stop Time of the session: Mon Dec  7 10:00:00 UTC 2026\r\n");
}

TEST(InfoFields, FieldValueOfTheFirstMatchingLine) {
  const std::string text = "Model Name: Q\r\nSerial Numbers: X\r\nSerial Number: ACCC8E000001\r\nSerial Number: B\n";
  EXPECT_EQ(session_info_field(text, "Serial Number"), "ACCC8E000001");
  EXPECT_EQ(session_info_field("Serial Number: last", "Serial Number"), "last");  // no line end
  EXPECT_EQ(session_info_field("Serial Number:X\n serial number: X\n", "Serial Number"), std::nullopt);
}

}  // namespace
}  // namespace trelvik
