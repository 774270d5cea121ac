// The daemon's scheduled PTZ test check (every 30 seconds) and the one-shot
// storage consumption report.
#pragma once

#include <glib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace trelvik {

// The PTZ reset request to the coordinator service, used by the tick's
// interval test and by the given-times check.
inline constexpr const char* kPtzResetCommand =
    "dbus-send --system --type=method_call --dest=com.zurn.PTZ.Coordinator /com/zurn/PTZ/Coordinator/1 "
    "com.zurn.PTZ.Coordinator.Auxiliary string:\"Operator\" int32:0 string:\"reset\"";

// State of the given-times check across calls.
struct GivenTimesState {
  // Number of the current check; starts at 2 so that a time due at the very
  // first check is not taken for the check right after a run.
  std::uint64_t count = 2;
  // Check number and "%H:%M" text of the last run.
  std::uint64_t flag = 0;
  std::string last_minute;
};

// True when `now` ("%H:%M") is one of the comma-separated `times`, compared as
// written.
bool given_times_contain(std::string_view times, std::string_view now);

// Decides one check: true when the test is due now. Only while no interval is
// set; a listed minute triggers once, however many checks fall into it.
// Advances `state` (count always, flag and minute on a run).
bool given_times_check(GivenTimesState& state, std::uint64_t interval, const std::optional<std::string>& times,
                       std::string_view now);

gboolean scheduled_tasks_timer_callback(gpointer unused);
gboolean storage_consumption_log_message(gpointer unused);

}  // namespace trelvik
