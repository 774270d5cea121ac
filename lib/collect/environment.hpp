// Environment collectors: temperatures, heaters, fans (the temperature
// controller service) and the daemon's own footprint in "top". Each collector
// appends one row per item to a CSV file in the folder it is handed and
// creates that folder when it is missing.
#pragma once

#include <array>
#include <string>

#include "lib/parse/environment_replies.hpp"

namespace trelvik {

// What the device has, found once at start-up and never refreshed.
struct EnvironmentSettings {
  int number_of_temperature_sensors = 0;  // accepted sensor-name lines
  // Sensor name by sensor index; empty for an index the device did not name.
  std::array<std::string, kMaxTemperatureSensors> temperature_sensor_names;
  int number_of_heaters = 0;
  int number_of_fans = 0;
};

// The process-wide settings the collectors read.
EnvironmentSettings& environment_settings();

// Discovers the sensor names (device HTTP API) and the heater and fan counts
// (temperature controller), at daemon start-up. A command that cannot be
// started is fatal.
void init_environment_monitor_settings(const char* nemor_user, const char* nemor_pass);

// Collectors; `path` is the "monitoring_environment" folder.
void store_temperatures_celsius(const char* path);
void store_heater_status(const char* path);
void store_fan_status(const char* path);
// `path` is the "monitoring_self" folder.
void store_self_monitoring(const char* path);

}  // namespace trelvik
