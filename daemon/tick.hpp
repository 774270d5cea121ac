// The daemon's one-minute monitoring tick. The decisions (what runs at which
// tick, the PTZ interval test, storage outage accounting) are pure functions
// so that ticks far apart can be tested without waiting for minutes.
#pragma once

#include <glib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace trelvik {

// The tick counter wraps here back to 0.
inline constexpr std::uint64_t kTickWrap = 60'000'000;

enum class SessionStorage { Edge, Internal };

// One action of a tick with an active session, in the order they run.
enum class TickStep {
  ScheduleConsumptionReport,
  InterruptsSnapshot,
  ServerReportSnapshot,
  MediaConfCopy,
  LoadAverage,
  VmStatusScript,
  TopStatusScript,
  PageFaults,
  BuddyInfo,
  MemInfo,
  ZedaStatus,
  NetDev,
  Temperatures,
  Heaters,
  Fans,
  PowerScript,
  SelfMonitoring,
  CollectedDataPoint,
  VideoStreams,
  Radar,
  SessionDuration,
};

// The steps of tick `n` for a session on `storage` that passed the partition
// check; `usable` is the edge storage's state (ignored for the internal one).
std::vector<TickStep> tick_schedule(std::uint64_t n, SessionStorage storage, bool usable);

struct PtzIntervalDecision {
  bool warn = false;   // "Automatic PTZ Test" one tick before the test
  bool reset = false;  // run the PTZ reset command
  std::uint64_t starting_tick = 0;
};
// The interval test at tick `n` with interval `interval` (minutes, 0 = off)
// and the tick at which the current interval began.
PtzIntervalDecision ptz_interval_step(std::uint64_t n, std::uint64_t interval, std::uint64_t starting_tick);

struct OutageDecision {
  std::uint64_t lost_count = 0;
  bool log_lost = false;           // first unusable check of an outage
  bool log_reestablished = false;  // first usable check after an outage
};
OutageDecision storage_outage_step(std::uint64_t lost_count, bool usable);
// "Connection to edge storage location re-established, ..." for an outage of
// `minutes`.
std::string reestablished_message(std::uint64_t minutes);

std::uint64_t next_tick(std::uint64_t n);

gboolean timer_callback(gpointer unused);

}  // namespace trelvik
