#include "daemon/schedule.hpp"

#include <syslog.h>

#include "lib/base/dateutil.hpp"
#include "lib/base/sysutil.hpp"
#include "lib/collect/filehandler.hpp"
#include "lib/session/session_globals.hpp"
#include "lib/web/ptz_test.hpp"

namespace trelvik {

bool given_times_contain(std::string_view times, std::string_view now) {
  while (true) {
    const auto comma = times.find(',');
    if (times.substr(0, comma) == now) return true;
    if (comma == std::string_view::npos) return false;
    times.remove_prefix(comma + 1);
  }
}

bool given_times_check(GivenTimesState& state, std::uint64_t interval, const std::optional<std::string>& times,
                       std::string_view now) {
  const std::uint64_t check = state.count++;
  if (interval != 0 || !times || now.empty() || !given_times_contain(*times, now)) return false;
  // Checks come every 30 seconds, so one minute is seen by two (with timer
  // drift, three) checks; a run within the last two minutes at the same
  // clock minute is that same listed minute.
  if (state.flag != 0 && state.last_minute == now && check - state.flag <= 3) return false;
  state.flag = check;
  state.last_minute = std::string(now);
  return true;
}

gboolean scheduled_tasks_timer_callback(gpointer /*unused*/) {
  static GivenTimesState state;
  char now[20] = {};
  date_format_now(now, sizeof now, "%H:%M");
  const std::uint64_t interval = ptz_test_interval_get();
  const std::optional<std::string> times = ptz_test_given_times_get();
  if (given_times_check(state, interval, times, now)) {
    syslog(LOG_WARNING, "Automatic PTZ Test");
    qorm_system(kPtzResetCommand);
  }
  return TRUE;
}

gboolean storage_consumption_log_message(gpointer /*unused*/) {
  const SessionPtr session = monitoring_session_load();
  if (!monitoring_session_is_active(session.get())) return FALSE;
  const unsigned long size = get_dir_size_bytes(session->session_path->c_str());
  if (session->storage_id) {
    syslog(LOG_INFO, "System monitoring session is consuming %lu B on %s", size, session->storage_id->c_str());
  } else {
    syslog(LOG_INFO, "System monitoring session is consuming %lu B on Internal Storage", size);
  }
  return FALSE;
}

}  // namespace trelvik
