#include "daemon/schedule.hpp"

#include <gtest/gtest.h>

namespace trelvik {
namespace {

TEST(GivenTimes, OncePerListedMinuteOnlyWithoutInterval) {
  EXPECT_TRUE(given_times_contain("08:00,20:30", "20:30"));
  EXPECT_FALSE(given_times_contain("08:00,20:30", "8:00"));
  EXPECT_FALSE(given_times_contain("", "08:00"));

  GivenTimesState state;
  const std::optional<std::string> times = "08:00,20:30";
  EXPECT_TRUE(given_times_check(state, 0, times, "08:00"));   // the very first check
  EXPECT_FALSE(given_times_check(state, 0, times, "08:00"));  // second check of that minute
  EXPECT_FALSE(given_times_check(state, 0, times, "08:00"));  // a third one, with timer drift
  EXPECT_FALSE(given_times_check(state, 0, times, "08:01"));
  EXPECT_TRUE(given_times_check(state, 0, times, "20:30"));
  EXPECT_FALSE(given_times_check(state, 5, times, "20:30"));  // an interval wins
  GivenTimesState fresh;                                      // no run just before: only the interval holds it back
  EXPECT_FALSE(given_times_check(fresh, 5, times, "08:00"));
  EXPECT_TRUE(given_times_check(fresh, 0, times, "08:00"));
  EXPECT_FALSE(given_times_check(state, 0, std::nullopt, "08:00"));
  EXPECT_FALSE(given_times_check(state, 0, times, ""));  // no clock, no match

  GivenTimesState next_day;
  EXPECT_TRUE(given_times_check(next_day, 0, std::optional<std::string>("08:00,08:00"), "08:00"));
  for (int i = 0; i < 2878; ++i) given_times_check(next_day, 0, times, "12:00");
  EXPECT_TRUE(given_times_check(next_day, 0, times, "08:00"));
}

}  // namespace
}  // namespace trelvik
