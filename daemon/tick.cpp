#include "daemon/tick.hpp"

#include <syslog.h>

#include <cinttypes>
#include <cstdio>
#include <optional>

#include "daemon/kernel_memory.hpp"
#include "daemon/schedule.hpp"
#include "daemon/state.hpp"
#include "lib/base/atomic_file.hpp"
#include "lib/base/fileutil.hpp"
#include "lib/base/log.hpp"
#include "lib/base/sysutil.hpp"
#include "lib/collect/environment.hpp"
#include "lib/collect/filehandler.hpp"
#include "lib/collect/interrupts.hpp"
#include "lib/collect/onvif.hpp"
#include "lib/device/storage_investigator.hpp"
#include "lib/lifecycle/archive_recovery.hpp"
#include "lib/lifecycle/session.hpp"
#include "lib/names/device_paths.hpp"
#include "lib/names/session_layout.hpp"
#include "lib/session/csv_file.hpp"
#include "lib/session/session_globals.hpp"
#include "lib/session/session_info.hpp"
#include "lib/web/ptz_test.hpp"

namespace trelvik {
namespace {

constexpr guint kConsumptionReportDelaySeconds = 10;

void add_edge_steps(std::vector<TickStep>& steps, std::uint64_t n) {
  using S = TickStep;
  if (n % 120 == 0) {
    steps.insert(steps.end(),
                 {S::ScheduleConsumptionReport, S::InterruptsSnapshot, S::ServerReportSnapshot, S::MediaConfCopy});
  }
  if (n % 2 == 0) {
    steps.insert(steps.end(), {S::LoadAverage, S::VmStatusScript, S::TopStatusScript, S::PageFaults, S::BuddyInfo,
                               S::MemInfo, S::ZedaStatus, S::NetDev, S::Temperatures, S::Heaters, S::Fans,
                               S::PowerScript, S::SelfMonitoring, S::CollectedDataPoint, S::VideoStreams, S::Radar});
  }
}

void add_internal_steps(std::vector<TickStep>& steps, std::uint64_t n) {
  if (n % 360 == 0) steps.insert(steps.end(), {TickStep::ServerReportSnapshot, TickStep::MediaConfCopy});
  if (n % 120 == 0) steps.push_back(TickStep::ScheduleConsumptionReport);
}

}  // namespace

std::vector<TickStep> tick_schedule(std::uint64_t n, SessionStorage storage, bool usable) {
  std::vector<TickStep> steps;
  if (storage == SessionStorage::Internal) {
    add_internal_steps(steps, n);
  } else if (usable) {
    add_edge_steps(steps, n);
  }
  steps.push_back(TickStep::SessionDuration);
  return steps;
}

PtzIntervalDecision ptz_interval_step(std::uint64_t n, std::uint64_t interval, std::uint64_t starting_tick) {
  PtzIntervalDecision decision;
  if (interval == 0) return decision;  // off: the next interval counts afresh
  decision.starting_tick = (n == 0 || starting_tick == 0) ? n : starting_tick;
  const std::uint64_t elapsed = n - decision.starting_tick;
  decision.warn = interval - elapsed == 1;
  if (elapsed >= interval) {
    decision.reset = true;
    decision.starting_tick = n;
  }
  return decision;
}

OutageDecision storage_outage_step(std::uint64_t lost_count, bool usable) {
  OutageDecision decision;
  if (usable) {
    decision.log_reestablished = lost_count != 0;
    return decision;
  }
  decision.log_lost = lost_count == 0;
  decision.lost_count = lost_count + 1;
  return decision;
}

std::string reestablished_message(std::uint64_t minutes) {
  char text[256];
  std::snprintf(text, sizeof text,
                "Connection to edge storage location re-established, connection was lost since %" PRIu64
                " days %" PRIu64 " hours %" PRIu64 " minutes. Continuing system monitoring session.",
                minutes / 1440, (minutes / 60) % 24, minutes % 60);
  return text;
}

std::uint64_t next_tick(std::uint64_t n) {
  const std::uint64_t next = n + 1;
  return next == kTickWrap ? 0 : next;
}

}  // namespace trelvik

namespace trelvik {
namespace {

// The folders the tick hands to collectors and scripts.
std::string sampling_folder(const monitoring_session& session, const char* folder) {
  return session_layout::sampling_folder(*session.session_path, folder);
}

void run_step(TickStep step, const monitoring_session& session, const DaemonState& state) {
  const char* path = session.session_path->c_str();
  const char* user = state.nemor_user;
  const char* pass = state.nemor_pass.c_str();
  switch (step) {
    case TickStep::ScheduleConsumptionReport:
      g_timeout_add_seconds(kConsumptionReportDelaySeconds, storage_consumption_log_message, nullptr);
      break;
    case TickStep::InterruptsSnapshot:
      create_interrupts_snapshot(path);
      break;
    case TickStep::ServerReportSnapshot:
      create_serverreport_snapshot(session, user, pass);
      break;
    case TickStep::MediaConfCopy:
      onvif_copy_media_conf(path);
      break;
    case TickStep::LoadAverage:
      store_load_avg_info_no_retention(path);
      break;
    case TickStep::VmStatusScript:
      shellscript_invoker(sampling_folder(session, session_layout::kVmStatus).c_str(), "vmstatus_monitoring.sh", false);
      break;
    case TickStep::TopStatusScript:
      shellscript_invoker(sampling_folder(session, session_layout::kTopStatus).c_str(), "topstatus_monitoring.sh",
                          false);
      break;
    case TickStep::PageFaults:
      create_pagefault_snapshot(path);
      break;
    case TickStep::BuddyInfo:
      create_buddyinfo_snapshot(path);
      break;
    case TickStep::MemInfo:
      store_proc_meminfo(path);
      break;
    case TickStep::ZedaStatus:
      zeda_monitor_status_snapshot(path);
      break;
    case TickStep::NetDev:
      store_proc_net_dev(path);
      break;
    case TickStep::Temperatures:
      store_temperatures_celsius(sampling_folder(session, session_layout::kEnvironment).c_str());
      break;
    case TickStep::Heaters:
      store_heater_status(sampling_folder(session, session_layout::kEnvironment).c_str());
      break;
    case TickStep::Fans:
      store_fan_status(sampling_folder(session, session_layout::kEnvironment).c_str());
      break;
    case TickStep::PowerScript:
      shellscript_invoker(sampling_folder(session, session_layout::kEnvironment).c_str(), "power.sh", true);
      break;
    case TickStep::SelfMonitoring:
      store_self_monitoring(sampling_folder(session, session_layout::kSelf).c_str());
      break;
    case TickStep::CollectedDataPoint:
      // The count is the session's promise that the round's rows are on the
      // card: they go there first.
      if (!CsvFile::sync_storage(*session.session_path)) LOG_ERROR("Could not sync '%s'", path);
      update_number_of_collected_data_points(path);
      break;
    case TickStep::VideoStreams:
      store_video_stream_history_no_retention(path);
      break;
    case TickStep::Radar:
      store_radar_data(path);
      break;
    case TickStep::SessionDuration:
      update_session_duration(path);
      break;
  }
}

void run_ptz_interval_test(DaemonState& state, std::uint64_t n) {
  const std::optional<std::uint64_t> interval = ptz_test_interval_read();
  if (!interval) {
    // A settings file that cannot be read is not a removed setting: the
    // running schedule stays for this tick.
    if (!state.ptz_interval_unreadable) LOG_ERROR("Could not read file '%s'", device::ptz_interval_file().c_str());
    state.ptz_interval_unreadable = true;
    return;
  }
  state.ptz_interval_unreadable = false;
  const PtzIntervalDecision decision = ptz_interval_step(n, *interval, state.ptz_starting_tick);
  state.ptz_starting_tick = decision.starting_tick;
  if (decision.warn) syslog(LOG_WARNING, "Automatic PTZ Test");
  if (decision.reset) qorm_system(kPtzResetCommand);
}

// The edge storage check with its once-per-outage lines; true when usable.
// A usable storage without the session folder is another card of the same
// id, or a card pulled before the storage service noticed: the session's
// storage is lost all the same.
bool check_edge_storage(DaemonState& state, const monitoring_session& session) {
  const bool usable =
      determine_if_this_storage_is_ok(session.storage_id->c_str()) && is_directory(session.session_path->c_str());
  const OutageDecision decision = storage_outage_step(state.connection_lost_count, usable);
  if (decision.log_reestablished) {
    syslog(LOG_INFO, "%s", reestablished_message(state.connection_lost_count).c_str());
  }
  if (decision.log_lost) LOG_ERROR("Lost connection to edge storage location, no data can be saved.");
  state.connection_lost_count = decision.lost_count;
  return usable;
}

// False when the tick ended the session (its archive has just been started).
bool monitor_session(DaemonState& state, const monitoring_session& session, std::uint64_t n) {
  const SessionStorage storage = session.storage_id ? SessionStorage::Edge : SessionStorage::Internal;
  // A lost edge storage is not judged full on what df says of the empty
  // mount point left behind.
  const bool usable = storage == SessionStorage::Edge && check_edge_storage(state, session);
  const bool judge_usage = storage == SessionStorage::Internal || usable;
  if (judge_usage && !check_partition_usage(session.secondary_storage_path->c_str())) {
    syslog(LOG_WARNING, "Secondary storage is running out of free space. Deactivating monitoring session.");
    // Under the lock of begin and end: an operator's end at this moment
    // ends it once, not twice.
    const FileLock lock(device::localdata_dir());
    if (const SessionPtr current = monitoring_session_load();
        current && current->session_path == session.session_path) {
      end_monitor_session(current.get(), state.nemor_user, state.nemor_pass.c_str());
    }
    return false;
  }
  for (const TickStep step : tick_schedule(n, storage, usable)) run_step(step, session, state);
  return true;
}

}  // namespace

gboolean timer_callback(gpointer /*unused*/) {
  DaemonState& state = daemon_state();
  const std::uint64_t n = state.timer_count;
  run_ptz_interval_test(state, n);
  const SessionLoad loaded = monitoring_session_load_checked();
  const SessionPtr& session = loaded.session;
  const bool active = monitoring_session_is_active(session.get());
  // An unreadable state file may name a running session: nothing is taken
  // for ended then.
  const bool carry_on = active ? monitor_session(state, *session, n) : !loaded.unreadable;
  if (carry_on) archive_ended_sessions(state.serial_number, session.get());
  state.timer_count = next_tick(n);
  return TRUE;
}

}  // namespace trelvik
