#include "lib/parse/environment_replies.hpp"

#include <charconv>

#include "lib/parse/text.hpp"

namespace trelvik {
namespace {

constexpr std::string_view kSensorPrefix = "root.TemperatureControl.Sensor.S";
constexpr std::string_view kSensorSuffix = ".Name=";

}  // namespace

std::optional<std::pair<int, std::string>> parse_sensor_name_line(std::string_view line) {
  line = line_body(line);
  if (!line.starts_with(kSensorPrefix)) return std::nullopt;
  const char* digits = line.data() + kSensorPrefix.size();
  const char* end = line.data() + line.size();
  int index = -1;
  const auto [after, error] = std::from_chars(digits, end, index);
  if (error != std::errc() || index < 0 || index >= kMaxTemperatureSensors) return std::nullopt;
  const std::string_view rest(after, static_cast<std::size_t>(end - after));
  if (!rest.starts_with(kSensorSuffix)) return std::nullopt;
  return std::pair{index, std::string(rest.substr(kSensorSuffix.size()))};
}

std::string sensor_file_name(std::string_view sensor_name) {
  std::string name(sensor_name);
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  return name;
}

std::optional<int> parse_count_reply(std::string_view last_line) {
  const std::size_t word = last_line.find("int");
  if (word == std::string_view::npos) return std::nullopt;
  const std::size_t blank = last_line.find(' ', word);
  if (blank == std::string_view::npos) return std::nullopt;
  int count = 0;
  const char* begin = last_line.data() + blank + 1;
  const auto [end, error] = std::from_chars(begin, last_line.data() + last_line.size(), count);
  if (error != std::errc()) return std::nullopt;
  return count;
}

std::optional<std::string> quoted_string_value(std::string_view line) {
  const std::size_t word = line.find("string ");
  if (word == std::string_view::npos) return std::nullopt;
  const std::size_t open = line.find('"', word);
  if (open == std::string_view::npos) return std::nullopt;
  const std::size_t close = line.find('"', open + 1);
  if (close == std::string_view::npos) return std::nullopt;
  return std::string(line.substr(open + 1, close - open - 1));
}

ReplyResult parse_temperature_reply(const std::vector<std::string>& lines, int index) {
  const std::string pattern = " " + std::to_string(index);
  ReplyResult result;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.find("int") == std::string::npos || line.find(pattern) == std::string::npos) continue;
    if (i + 1 == lines.size()) {
      result.status = ReplyValue::kNoValueLine;
      return result;
    }
    result.line = lines[i + 1];
    result.status = ReplyValue::kNoValue;
    const std::size_t word = result.line.find("double");
    const std::size_t blank = word == std::string::npos ? word : result.line.find(' ', word);
    if (blank == std::string::npos) return result;
    result.value = std::string(line_body(std::string_view(result.line).substr(blank + 1)));
    if (!result.value.empty()) result.status = ReplyValue::kFound;
    return result;
  }
  return result;
}

ReplyResult parse_heater_reply(const std::vector<std::string>& lines) {
  ReplyResult result;
  for (const std::string& line : lines) {
    if (line.find("string ") == std::string::npos) continue;
    result.line = line;
    const auto value = quoted_string_value(line);
    result.status = value ? ReplyValue::kFound : ReplyValue::kNoValue;
    if (value) result.value = *value;
    return result;
  }
  return result;
}

ReplyResult parse_fan_reply(const std::vector<std::string>& lines, int index) {
  const std::string pattern = "int32 " + std::to_string(index);
  ReplyResult result;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].find(pattern) == std::string::npos) continue;
    if (++i == lines.size()) {
      result.status = ReplyValue::kNoValueLine;
      return result;
    }
    if (lines[i].find("string ") == std::string::npos) {
      // The line is used up; the search goes on after it.
      result.unexpected.push_back(lines[i]);
      continue;
    }
    result.line = lines[i];
    const auto value = quoted_string_value(lines[i]);
    result.status = value ? ReplyValue::kFound : ReplyValue::kNoValue;
    if (value) result.value = *value;
    return result;
  }
  return result;
}

}  // namespace trelvik
