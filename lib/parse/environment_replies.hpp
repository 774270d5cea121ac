// Replies of the temperature controller (dbus-send) and the device API's
// sensor list: sensor names, counts, temperatures, heater and fan states.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace trelvik {

inline constexpr int kMaxTemperatureSensors = 20;

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
  std::string line;                     // the value line, when there was one (line feed kept)
  std::string value;                    // the value, for kFound
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

}  // namespace trelvik
