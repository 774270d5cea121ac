#include "daemon/startup.hpp"

#include <syslog.h>

#include <cstring>

#include "daemon/schedule.hpp"
#include "daemon/state.hpp"
#include "daemon/tick.hpp"
#include "lib/base/log.hpp"
#include "lib/base/sysutil.hpp"
#include "lib/collect/environment.hpp"
#include "lib/device/ptz.hpp"
#include "lib/lifecycle/archive_recovery.hpp"
#include "lib/session/session_globals.hpp"

namespace trelvik {
namespace {

constexpr const char* kVersion = "5.0.0";
constexpr guint kTickSeconds = 60;
constexpr guint kScheduledCheckSeconds = 30;

void start_timers() {
  syslog(LOG_DEBUG, "Setup timers");
  g_timeout_add_seconds(kTickSeconds, timer_callback, nullptr);
  g_timeout_add_seconds(kScheduledCheckSeconds, scheduled_tasks_timer_callback, nullptr);
}

void start_ptz_thread_if_needed(const DaemonState& state) {
  if (!camera_has_ptz(state.full_name, state.prod_type)) return;
  syslog(LOG_DEBUG, "Starting PTZ loop.");
  // Tracking is a nicety: a thread that cannot be had is not worth a failure.
  GThread* thread = g_thread_try_new(nullptr, ptz_loop, nullptr, nullptr);
  if (thread != nullptr) g_thread_unref(thread);
}

}  // namespace

DaemonState& daemon_state() {
  static DaemonState state;
  return state;
}

bool camera_has_ptz(const char* full_name, const char* prod_type) {
  return std::strstr(full_name, "PTZ") != nullptr || std::strstr(prod_type, "PTZ") != nullptr;
}

SessionLoad restore_session() {
  SessionLoad loaded = monitoring_session_load_checked();
  if (loaded.session) syslog(LOG_INFO, "Continuing System Monitoring Session. Device was rebooted or lost power.");
  return loaded;
}

int daemon_main(int argc, char** argv, FILE* password_in) {
  open_program_log();
  if (argc != 5) {
    std::fprintf(stderr, "Usage: %s <serial_number> <full_name> <prod_type> <nemor_user>\n", argv[0]);
    return 1;
  }
  DaemonState& state = daemon_state();
  state.full_name = argv[2];
  state.prod_type = argv[3];
  state.nemor_user = argv[4];
  if (!read_secret_line(password_in, state.nemor_pass)) {
    LOG_ERROR("Failed to read arg_nemor_pass from stdin.");
    return 1;
  }

  state.serial_number = argv[1];
  const SessionLoad restored = restore_session();
  // An unreadable state file may name a running session: nothing is taken
  // for ended then.
  if (!restored.unreadable) archive_ended_sessions(state.serial_number, restored.session.get());
  syslog(restored.session ? LOG_DEBUG : LOG_INFO, "Trelvik version %s, compiled: %s %s", kVersion, __DATE__, __TIME__);

  syslog(LOG_DEBUG, "init_environment_monitor_settings");
  init_environment_monitor_settings(state.nemor_user, state.nemor_pass.c_str());

  start_timers();
  start_ptz_thread_if_needed(state);

  syslog(LOG_DEBUG, "Starting main loop.");
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  g_main_loop_run(loop);
  g_main_loop_unref(loop);
  return 0;
}

}  // namespace trelvik
