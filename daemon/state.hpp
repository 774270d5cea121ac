// Process-wide state of trelvik_daemon. Used only by the main-loop thread
// after start-up; nothing of it is persisted, so a restart begins at 0.
#pragma once

#include <cstdint>
#include <string>

namespace trelvik {

struct DaemonState {
  const char* full_name = "";
  const char* prod_type = "";
  const char* nemor_user = "";
  std::string nemor_pass;
  volatile std::uint64_t timer_count = 0;
  std::uint64_t ptz_starting_tick = 0;
  std::uint64_t connection_lost_count = 0;
  bool ptz_interval_unreadable = false;  // logged once until a read succeeds
  const char* serial_number = "";        // names this device's session folders
};

DaemonState& daemon_state();

}  // namespace trelvik
