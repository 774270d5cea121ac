#include "daemon/tick.hpp"

#include <gtest/gtest.h>

#include <functional>

namespace trelvik {
namespace {

using S = TickStep;
using Steps = std::vector<TickStep>;

TEST(TickSchedule, StepsByTickStorageAndState) {
  const Steps duration = {S::SessionDuration};
  const Steps even = {S::LoadAverage, S::VmStatusScript, S::TopStatusScript, S::PageFaults,         S::BuddyInfo,
                      S::MemInfo,     S::ZedaStatus,     S::NetDev,          S::Temperatures,       S::Heaters,
                      S::Fans,        S::PowerScript,    S::SelfMonitoring,  S::CollectedDataPoint, S::VideoStreams,
                      S::Radar,       S::SessionDuration};
  Steps full = {S::ScheduleConsumptionReport, S::InterruptsSnapshot, S::ServerReportSnapshot, S::MediaConfCopy};
  full.insert(full.end(), even.begin(), even.end());
  for (const std::uint64_t n : {0u, 120u, 360u}) EXPECT_EQ(tick_schedule(n, SessionStorage::Edge, true), full) << n;
  EXPECT_EQ(tick_schedule(2, SessionStorage::Edge, true), even);
  for (const std::uint64_t n : {1u, 119u, 59'999'999u}) {
    EXPECT_EQ(tick_schedule(n, SessionStorage::Edge, true), duration) << n;
  }
  for (const std::uint64_t n : {0u, 1u, 2u, 120u}) {
    EXPECT_EQ(tick_schedule(n, SessionStorage::Edge, false), duration) << n;
  }
  EXPECT_EQ(tick_schedule(0, SessionStorage::Internal, true),
            (Steps{S::ServerReportSnapshot, S::MediaConfCopy, S::ScheduleConsumptionReport, S::SessionDuration}));
  EXPECT_EQ(tick_schedule(120, SessionStorage::Internal, false),
            (Steps{S::ScheduleConsumptionReport, S::SessionDuration}));
  EXPECT_EQ(tick_schedule(720, SessionStorage::Internal, true).front(), S::ServerReportSnapshot);
  EXPECT_EQ(tick_schedule(2, SessionStorage::Internal, true), duration);
  EXPECT_EQ(next_tick(59'999'999), 0u);
  EXPECT_EQ(next_tick(7), 8u);
}

// Drives the interval test over ticks 0 to `to`: (warning ticks, reset ticks).
std::pair<std::vector<std::uint64_t>, std::vector<std::uint64_t>> run_interval(
    std::uint64_t to, const std::function<std::uint64_t(std::uint64_t)>& interval_at) {
  std::vector<std::uint64_t> warnings, resets;
  std::uint64_t starting = 0;
  for (std::uint64_t n = 0; n <= to; ++n) {
    const auto decision = ptz_interval_step(n, interval_at(n), starting);
    starting = decision.starting_tick;
    if (decision.warn) warnings.push_back(n);
    if (decision.reset) resets.push_back(n);
  }
  return {warnings, resets};
}

TEST(PtzInterval, WarnsOneTickBeforeAndRestartsOnChange) {
  using Ticks = std::vector<std::uint64_t>;
  EXPECT_EQ(run_interval(200, [](std::uint64_t) { return 60; }), (std::pair{Ticks{60, 120, 180}, Ticks{61, 121, 181}}));
  // Removed at tick 30, set again (3 minutes) at tick 50: counts from tick 50.
  EXPECT_EQ(run_interval(60, [](std::uint64_t n) -> std::uint64_t { return n < 30   ? 60
                                                                           : n < 50 ? 0
                                                                                    : 3; }),
            (std::pair{Ticks{52, 55, 58}, Ticks{53, 56, 59}}));
}

TEST(StorageOutage, OneLineEachWayAndDuration) {
  OutageDecision d = storage_outage_step(0, false);
  EXPECT_TRUE(d.log_lost);
  EXPECT_EQ(d.lost_count, 1u);
  d = storage_outage_step(d.lost_count, false);
  EXPECT_FALSE(d.log_lost);
  EXPECT_EQ(d.lost_count, 2u);
  d = storage_outage_step(1, true);
  EXPECT_TRUE(d.log_reestablished);
  EXPECT_EQ(d.lost_count, 0u);
  EXPECT_FALSE(storage_outage_step(0, true).log_reestablished);
  EXPECT_EQ(reestablished_message(1),
            "Connection to edge storage location re-established, connection was lost since 0 days 0 hours 1 "
            "minutes. Continuing system monitoring session.");
  EXPECT_NE(reestablished_message(std::uint64_t{25} * 60).find("since 1 days 1 hours 0 minutes."), std::string::npos);
}

}  // namespace
}  // namespace trelvik
