// Measures the daemon's work on the emulated camera (run by bench/daemon.py,
// which sets up the camera and an active session):
//   daemon_bench collectors ROUNDS  one full set of the sampling collectors
//   daemon_bench tick FIRST|EVEN ROUNDS  the monitoring tick at tick 0 or 2
//   daemon_bench parts ROUNDS       each sampling collector on its own
//   daemon_bench soak TICKS         ticks in a row; memory and descriptors
// Per round it prints its own CPU time (children excluded), the children's
// CPU time, the wall time and the processes started on the machine (the
// kernel's fork counter, so run it on a quiet machine).
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "daemon/kernel_memory.hpp"
#include "daemon/state.hpp"
#include "daemon/tick.hpp"
#include "lib/base/sysutil.hpp"
#include "lib/collect/environment.hpp"
#include "lib/collect/filehandler.hpp"
#include "lib/names/session_layout.hpp"
#include "lib/session/session_globals.hpp"

namespace {

using namespace trelvik;

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

double cpu(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double own_user() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return seconds(usage.ru_utime);
}

long forks_since_boot() {
  std::ifstream stat("/proc/stat");
  std::string key;
  long value = 0;
  while (stat >> key) {
    if (key == "processes") {
      stat >> value;
      return value;
    }
    stat.ignore(1 << 20, '\n');
  }
  return 0;
}

// A "Key:   123 kB" figure of /proc/self/status.
long status_kib(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(key, 0) == 0) return std::strtol(line.c_str() + std::strlen(key), nullptr, 10);
  }
  return 0;
}

long resident_kib() { return status_kib("VmRSS:"); }

// The high-water mark of the process's own resident set.
long peak_resident_kib() { return status_kib("VmHWM:"); }

long open_descriptors() {
  long count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

void measure(const char* what, int rounds, const std::function<void()>& round) {
  std::printf("%-12s %8s %12s %12s %12s %10s %10s\n", what, "round", "own_cpu_ms", "own_user_ms", "child_cpu_ms",
              "wall_ms", "processes");
  double own_total = 0, user_total = 0, child_total = 0, wall_total = 0;
  long processes_total = 0;
  for (int i = 0; i < rounds; ++i) {
    // The fork counter first: the kernel's cost of /proc/stat is not the round's.
    const long forks = forks_since_boot();
    const double own = cpu(RUSAGE_SELF), user = own_user(), child = cpu(RUSAGE_CHILDREN);
    const auto start = std::chrono::steady_clock::now();
    round();
    const double wall = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const double own_ms = (cpu(RUSAGE_SELF) - own) * 1e3, child_ms = (cpu(RUSAGE_CHILDREN) - child) * 1e3;
    const double user_ms = (own_user() - user) * 1e3;
    const long processes = forks_since_boot() - forks;
    own_total += own_ms, user_total += user_ms, child_total += child_ms, wall_total += wall;
    processes_total += processes;
    std::printf("%-12s %8d %12.2f %12.2f %12.2f %10.1f %10ld\n", what, i, own_ms, user_ms, child_ms, wall, processes);
  }
  std::printf("%-12s %8s %12.2f %12.2f %12.2f %10.1f %10.1f\n", what, "mean", own_total / rounds, user_total / rounds,
              child_total / rounds, wall_total / rounds, static_cast<double>(processes_total) / rounds);
}

void collectors(const std::string& session_path) {
  const char* path = session_path.c_str();
  const std::string environment = session_layout::sampling_folder(session_path, session_layout::kEnvironment);
  const std::string self = session_layout::sampling_folder(session_path, session_layout::kSelf);
  store_load_avg_info_no_retention(path);
  create_pagefault_snapshot(path);
  create_buddyinfo_snapshot(path);
  store_proc_meminfo(path);
  store_proc_net_dev(path);
  store_temperatures_celsius(environment.c_str());
  store_heater_status(environment.c_str());
  store_fan_status(environment.c_str());
  store_self_monitoring(self.c_str());
  store_video_stream_history_no_retention(path);
  store_radar_data(path);
}

// Own CPU of each collector, averaged over `rounds`.
void per_collector(const std::string& session_path, int rounds) {
  const char* path = session_path.c_str();
  const std::string environment = session_layout::sampling_folder(session_path, session_layout::kEnvironment);
  const std::string self = session_layout::sampling_folder(session_path, session_layout::kSelf);
  const std::pair<const char*, std::function<void()>> parts[] = {
      {"load", [&] { store_load_avg_info_no_retention(path); }},
      {"pagefaults", [&] { create_pagefault_snapshot(path); }},
      {"buddyinfo", [&] { create_buddyinfo_snapshot(path); }},
      {"meminfo", [&] { store_proc_meminfo(path); }},
      {"net_dev", [&] { store_proc_net_dev(path); }},
      {"temperatures", [&] { store_temperatures_celsius(environment.c_str()); }},
      {"heaters", [&] { store_heater_status(environment.c_str()); }},
      {"fans", [&] { store_fan_status(environment.c_str()); }},
      {"self", [&] { store_self_monitoring(self.c_str()); }},
      {"streams", [&] { store_video_stream_history_no_retention(path); }},
      {"radar", [&] { store_radar_data(path); }},
  };
  for (const auto& [name, run] : parts) {
    const double own = cpu(RUSAGE_SELF), user = own_user();
    for (int i = 0; i < rounds; ++i) run();
    std::printf("%-14s own_cpu_ms %6.3f  own_user_ms %6.3f\n", name, (cpu(RUSAGE_SELF) - own) * 1e3 / rounds,
                (own_user() - user) * 1e3 / rounds);
  }
}

void soak(int ticks) {
  DaemonState& state = daemon_state();
  timer_callback(nullptr);  // warm up: first-time allocations are not growth
  const long rss_before = resident_kib(), fds_before = open_descriptors();
  for (int i = 0; i < ticks; ++i) timer_callback(nullptr);
  std::printf(
      "soak: %d ticks (counter now %llu): resident %ld -> %ld KiB (peak %ld KiB; anonymous %ld KiB), "
      "descriptors %ld -> %ld\n",
      ticks, static_cast<unsigned long long>(state.timer_count), rss_before, resident_kib(), peak_resident_kib(),
      status_kib("RssAnon:"), fds_before, open_descriptors());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "Usage: %s collectors ROUNDS | tick FIRST|EVEN ROUNDS | soak TICKS\n", argv[0]);
    return 1;
  }
  DaemonState& state = daemon_state();
  state.nemor_user = "root";
  state.nemor_pass = "pass";
  init_environment_monitor_settings(state.nemor_user, state.nemor_pass.c_str());
  const SessionPtr session = monitoring_session_load();
  if (!session) {
    std::fprintf(stderr, "no active session\n");
    return 1;
  }
  const std::string mode = argv[1];
  if (mode == "collectors") {
    measure("collectors", std::atoi(argv[2]), [&] { collectors(*session->session_path); });
  } else if (mode == "tick" && argc == 4) {
    const bool first = std::strcmp(argv[2], "FIRST") == 0;
    measure(first ? "first_tick" : "even_tick", std::atoi(argv[3]), [&] {
      state.timer_count = first ? 0 : 2;
      timer_callback(nullptr);
    });
  } else if (mode == "parts") {
    per_collector(*session->session_path, std::atoi(argv[2]));
  } else if (mode == "soak") {
    soak(std::atoi(argv[2]));
  } else {
    return 1;
  }
  return 0;
}
