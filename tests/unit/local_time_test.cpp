#include "lib/base/local_time.hpp"

#include <gtest/gtest.h>

#include "lib/parse/export_rows.hpp"

namespace trelvik {
namespace {

std::int64_t local(int year, int month, int day, int hour, int minute) {
  return *civil_seconds(year, month, day, hour, minute, 0);
}

// Stockholm leaves summer time on 2026-10-25 at 03:00 (back to 02:00) and
// starts it on 2026-03-29 at 02:00 (on to 03:00).
TEST(LocalTime, DaylightSavingChangesAreNeverGuessed) {
  std::string error;
  auto clock = LocalTimeConverter::open("Europe/Stockholm", error);
  ASSERT_TRUE(clock) << error;
  using Fit = LocalTimeConverter::Fit;
  const auto winter = clock->to_utc(local(2026, 12, 6, 18, 48));
  EXPECT_EQ(winter.fit, Fit::exact);
  EXPECT_EQ(winter.seconds, local(2026, 12, 6, 17, 48));
  EXPECT_EQ(clock->to_utc(local(2026, 7, 1, 12, 0)).seconds, local(2026, 7, 1, 10, 0));
  EXPECT_EQ(clock->to_utc(local(2026, 10, 25, 1, 59)).fit, Fit::exact);
  EXPECT_EQ(clock->to_utc(local(2026, 10, 25, 2, 0)).fit, Fit::ambiguous);
  EXPECT_EQ(clock->to_utc(local(2026, 10, 25, 2, 59)).fit, Fit::ambiguous);
  EXPECT_EQ(clock->to_utc(local(2026, 10, 25, 3, 0)).seconds, local(2026, 10, 25, 2, 0));
  EXPECT_EQ(clock->to_utc(local(2026, 3, 29, 1, 59)).seconds, local(2026, 3, 29, 0, 59));
  EXPECT_EQ(clock->to_utc(local(2026, 3, 29, 2, 30)).fit, Fit::skipped);
  EXPECT_EQ(clock->to_utc(local(2026, 3, 29, 3, 0)).seconds, local(2026, 3, 29, 1, 0));
  // A second look at a cached hour answers the same.
  EXPECT_EQ(clock->to_utc(local(2026, 10, 25, 2, 30)).fit, Fit::ambiguous);
}

TEST(LocalTime, FixedOffsetsAndUnknownZones) {
  std::string error;
  auto fixed = LocalTimeConverter::open("-0330", error);
  ASSERT_TRUE(fixed);
  EXPECT_EQ(fixed->to_utc(local(2026, 10, 25, 2, 30)).seconds, local(2026, 10, 25, 6, 0));
  EXPECT_EQ(LocalTimeConverter::open("UTC", error)->zone(), "UTC");
  for (const char* zone : {"Mars/Olympus", "../../etc/passwd", "", "+2500"}) {
    EXPECT_FALSE(LocalTimeConverter::open(zone, error)) << zone;
  }
  EXPECT_NE(error.find("is not in this machine's time zone database"), std::string::npos);
}

}  // namespace
}  // namespace trelvik
