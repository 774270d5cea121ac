// Environment collectors: temperatures, heaters, fans (the temperature
// controller service) and the daemon's own footprint in "top". Each collector
// appends one row per item to a CSV file in the folder it is handed and
// creates that folder when it is missing.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace trelvik {

inline constexpr int kMaxTemperatureSensors = 20;

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

// ---- Parsers over the tools' printed text (pure) --------------------------

// A parameter-list line "root.TemperatureControl.Sensor.S<i>.Name=<name>" with
// i from 0 to 19: the index and the name (the rest of the line up to "\n").
std::optional<std::pair<int, std::string>> parse_sensor_name_line(std::string_view line);
// The file name a sensor name gives: every "/" becomes "_".
std::string sensor_file_name(std::string_view sensor_name);
// The count in the last line of a GetNbrOf... reply ("   int32 3").
std::optional<int> parse_count_reply(std::string_view last_line);

// Why a reply gave no value for an item.
enum class ReplyValue { kFound, kNoEntry, kNoValueLine, kNoValue };

struct ReplyResult {
  ReplyValue status = ReplyValue::kNoEntry;
  std::string line;   // the value line, when there was one (line feed kept)
  std::string value;  // the value, for kFound
  std::vector<std::string> unexpected;  // lines that stood where a string should (fan replies)
};

// Temperature of sensor `index` in a GetAllTemperatures reply: the double
// line after the first line holding "int" and " <index>".
ReplyResult parse_temperature_reply(const std::vector<std::string>& lines, int index);
// Status of a GetHeaterStatus reply: the quoted text of the first "string " line.
ReplyResult parse_heater_reply(const std::vector<std::string>& lines);
// Status of fan `index` in a GetAllFanStatus reply.
ReplyResult parse_fan_reply(const std::vector<std::string>& lines, int index);
// The text between the first double quote after "string " and the next one.
std::optional<std::string> quoted_string_value(std::string_view line);

// The first "top" line whose first field is the number `pid`.
std::optional<std::string> find_top_line(const std::vector<std::string>& lines, long pid);
// %VSZ and %CPU of a "top" process line: the digits before its first two "%".
std::optional<std::pair<int, int>> parse_top_percentages(std::string_view line);

}  // namespace trelvik
