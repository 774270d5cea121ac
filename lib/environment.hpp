// Environment collectors: temperatures, heaters, fans and the daemon's own
// resource use.
#pragma once

namespace trelvik {

// Discovers the temperature sensor names and the heater and fan counts once,
// at daemon start-up, with the device API credentials.
void init_environment_monitor_settings(const char* nemor_user, const char* nemor_pass);

}  // namespace trelvik
