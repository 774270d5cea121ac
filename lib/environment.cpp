#include "lib/environment.hpp"

#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <memory>

#include "lib/csv_file.hpp"
#include "lib/dateutil.hpp"
#include "lib/fileutil.hpp"
#include "lib/log.hpp"
#include "lib/nemor.hpp"
#include "lib/pipe.hpp"

namespace trelvik {
namespace {

constexpr const char* kSensorListPath = "/zurn-cgi/param.cgi?action=list&group=root.TemperatureControl.Sensor";
constexpr std::string_view kSensorPrefix = "root.TemperatureControl.Sensor.S";
constexpr std::string_view kSensorSuffix = ".Name=";

#define TEMPERATURE_CONTROLLER                                                                                  \
  "dbus-send --system --print-reply --reply-timeout=1000 --dest=com.zurn.TemperatureController "               \
  "--type=method_call /com/zurn/TemperatureController com.zurn.TemperatureController."

constexpr const char* kHeaterCountCommand = TEMPERATURE_CONTROLLER "GetNbrOfHeaters";
constexpr const char* kFanCountCommand = TEMPERATURE_CONTROLLER "GetNbrOfFans";
constexpr const char* kTemperaturesCommand = TEMPERATURE_CONTROLLER "GetAllTemperatures string:0";
constexpr const char* kHeaterStatusCommand = TEMPERATURE_CONTROLLER "GetHeaterStatus int32:";
constexpr const char* kFanStatesCommand = TEMPERATURE_CONTROLLER "GetAllFanStatus";
constexpr const char* kTopCommand = "top -n 1 -b";
#undef TEMPERATURE_CONTROLLER

std::string without_line_end(std::string_view line) {
  return std::string(line.substr(0, line.find('\n')));
}

// Reply and parameter-list lines are read in pieces of at most 255 bytes, "top"
// lines in pieces of 511: a longer line counts as several. This bounds what a
// reply can place in a row or a file name (a sensor name stays well within a
// file name's 255 bytes).
constexpr std::size_t kReplyLinePiece = 255;
constexpr std::size_t kTopLinePiece = 511;

void add_pieces(const std::string& line, std::size_t piece, std::vector<std::string>& lines) {
  for (std::size_t at = 0; at < line.size(); at += piece) lines.push_back(line.substr(at, piece));
}

// The whole output of a command whose failure to start is fatal.
std::vector<std::string> read_command(const std::string& command, std::size_t piece = kReplyLinePiece) {
  ReadPipe pipe(command);
  if (!pipe.is_open()) FATAL_POPEN(command.c_str());
  std::vector<std::string> lines;
  std::string line;
  while (pipe.read_line(line)) add_pieces(line, piece, lines);
  pipe.close();
  return lines;
}

std::string now_text() {
  char timestamp[40] = {};
  date_format_now(timestamp, sizeof timestamp, "%Y-%m-%d,%H:%M:%S");
  return timestamp;
}

void ensure_folder(const char* path) {
  if (is_directory(path)) return;
  // The failed look-up is no cause worth showing in a later error line.
  if (mkdir(path, 0755) == 0) errno = 0;
}

// Opens a CSV file for appending with `header` put into a new file.
std::unique_ptr<CsvFile> open_csv(const std::string& path, const char* header) {
  auto file = std::make_unique<CsvFile>(path, __FILE__, __LINE__);
  if (file->is_open() && file->is_new()) file->put(header);
  return file;
}

void append_row(CsvFile& file, const std::string& timestamp, const std::string& value) {
  file.put(timestamp + "," + value + "\n");
}

// Reads the count of a GetNbrOf... command into `count`, which keeps its value
// when the reply holds none.
void read_count(const char* command, int& count) {
  const std::vector<std::string> lines = read_command(command);
  if (lines.empty()) return;
  if (const auto value = parse_count_reply(lines.back())) count = *value;
}

void read_sensor_names(const char* nemor_user, const char* nemor_pass, EnvironmentSettings& settings) {
  ReadPipe pipe = nemor_get(nemor_user, nemor_pass, kSensorListPath);
  if (!pipe.is_open()) FATAL_POPEN(kSensorListPath);
  settings.number_of_temperature_sensors = 0;
  settings.temperature_sensor_names = {};
  std::string line;
  std::vector<std::string> pieces;
  while (pipe.read_line(line)) add_pieces(line, kReplyLinePiece, pieces);
  pipe.close();
  for (const std::string& piece : pieces) {
    const auto sensor = parse_sensor_name_line(piece);
    if (!sensor) continue;
    settings.temperature_sensor_names[static_cast<std::size_t>(sensor->first)] = sensor->second;
    ++settings.number_of_temperature_sensors;
  }
}

}  // namespace

EnvironmentSettings& environment_settings() {
  static EnvironmentSettings settings;
  return settings;
}

void init_environment_monitor_settings(const char* nemor_user, const char* nemor_pass) {
  EnvironmentSettings& settings = environment_settings();
  read_sensor_names(nemor_user, nemor_pass, settings);
  read_count(kHeaterCountCommand, settings.number_of_heaters);
  read_count(kFanCountCommand, settings.number_of_fans);
  syslog(LOG_DEBUG, "Number of fans: %d, number of heaters: %d, number of temperature sensors: %d",
         settings.number_of_fans, settings.number_of_heaters, settings.number_of_temperature_sensors);
}

// ---- Parsers ---------------------------------------------------------------

std::optional<std::pair<int, std::string>> parse_sensor_name_line(std::string_view line) {
  line = line.substr(0, line.find('\n'));
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
    result.value = without_line_end(std::string_view(result.line).substr(blank + 1));
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

std::optional<std::string> find_top_line(const std::vector<std::string>& lines, long pid) {
  for (const std::string& line : lines) {
    // Only a line that begins with its number is a process line: the "Mem:"
    // line of busybox top also starts with a figure after its label.
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos) continue;
    long number = -1;
    const auto [end, error] = std::from_chars(line.data() + first, line.data() + line.size(), number);
    if (error != std::errc() || line.data() + first == end || line[first] == '-') continue;
    if (number == pid) return line;
  }
  return std::nullopt;
}

namespace {
// The run of digits directly before `percent` (0 without one).
int figure_before(std::string_view line, std::size_t percent) {
  std::size_t begin = percent;
  while (begin > 0 && line[begin - 1] >= '0' && line[begin - 1] <= '9') --begin;
  int value = 0;
  std::from_chars(line.data() + begin, line.data() + percent, value);
  return value;
}
}  // namespace

std::optional<std::pair<int, int>> parse_top_percentages(std::string_view line) {
  const std::size_t first = line.find('%');
  if (first == std::string_view::npos) return std::nullopt;
  const std::size_t second = line.find('%', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  return std::pair{figure_before(line, first), figure_before(line, second)};
}

// ---- Collectors --------------------------------------------------------------

namespace {

void store_one_temperature(const std::string& folder, int index, const std::string& name,
                           const std::string& timestamp) {
  const auto file = open_csv(folder + "/" + sensor_file_name(name) + ".csv", "Date, Time, Temperature (Celsius)\n");
  if (!file->is_open()) return;
  const ReplyResult reply = parse_temperature_reply(read_command(kTemperaturesCommand), index);
  if (reply.status == ReplyValue::kNoValueLine) {
    LOG_ERROR("Could not fgets value from %s", kTemperaturesCommand);
    return;
  }
  if (reply.status == ReplyValue::kNoEntry) return;
  syslog(LOG_DEBUG, "Temperature for sensor %d is : %s", index, without_line_end(reply.line).c_str());
  if (reply.status == ReplyValue::kFound) append_row(*file, timestamp, reply.value);
}

void store_one_heater(const std::string& folder, int index, const std::string& timestamp) {
  const auto file = open_csv(folder + "/Heater_" + std::to_string(index) + ".csv", "Date, Time, Heater status\n");
  if (!file->is_open()) return;
  const ReplyResult reply = parse_heater_reply(read_command(kHeaterStatusCommand + std::to_string(index)));
  if (reply.status == ReplyValue::kNoEntry) return;
  syslog(LOG_DEBUG, "Status for heater %d is : %s", index, without_line_end(reply.line).c_str());
  if (reply.status == ReplyValue::kFound) append_row(*file, timestamp, reply.value);
}

void store_one_fan(const std::string& folder, int index, const std::string& timestamp) {
  const auto file = open_csv(folder + "/Fan_" + std::to_string(index) + ".csv", "Date, Time, Fan status\n");
  if (!file->is_open()) return;
  const ReplyResult reply = parse_fan_reply(read_command(kFanStatesCommand), index);
  for (const std::string& line : reply.unexpected) {
    LOG_ERROR("Expected string value, got %s", without_line_end(line).c_str());
  }
  if (reply.status == ReplyValue::kNoValueLine) {
    syslog(LOG_WARNING, "Could not fgets value from %s", kFanStatesCommand);
  }
  if (reply.status == ReplyValue::kFound) append_row(*file, timestamp, reply.value);
}

}  // namespace

void store_temperatures_celsius(const char* path) {
  const std::string timestamp = now_text();
  ensure_folder(path);
  const EnvironmentSettings& settings = environment_settings();
  if (settings.number_of_temperature_sensors < 1) return;
  // Every named slot is sampled: a list with a gap (S0, S2) still yields S2,
  // and a slot the device never named is never used as a file name.
  for (int i = 0; i < kMaxTemperatureSensors; ++i) {
    const std::string& name = settings.temperature_sensor_names[static_cast<std::size_t>(i)];
    if (!name.empty()) store_one_temperature(path, i, name, timestamp);
  }
}

void store_heater_status(const char* path) {
  const std::string timestamp = now_text();
  ensure_folder(path);
  for (int i = 0; i < environment_settings().number_of_heaters; ++i) store_one_heater(path, i, timestamp);
}

void store_fan_status(const char* path) {
  const std::string timestamp = now_text();
  ensure_folder(path);
  for (int i = 0; i < environment_settings().number_of_fans; ++i) store_one_fan(path, i, timestamp);
}

namespace {

// The daemon's own line of "top"; logged and empty when it is not listed.
std::optional<std::string> get_top_Trelvik() {
  const long pid = static_cast<long>(getpid());
  auto line = find_top_line(read_command(kTopCommand, kTopLinePiece), pid);
  if (!line) {
    syslog(LOG_DEBUG, "Did not find the correct pid.. %u", static_cast<unsigned>(pid));
    LOG_ERROR("Failed to get top for Trelvik");
    return std::nullopt;
  }
  syslog(LOG_DEBUG, "Top: [%s]", without_line_end(*line).c_str());
  return line;
}

}  // namespace

void store_self_monitoring(const char* path) {
  ensure_folder(path);
  const std::string file_path = std::string(path) + "/Trelvik_summary.csv";
  const auto line = get_top_Trelvik();
  if (!line) return;
  const auto figures = parse_top_percentages(*line);
  if (!figures) return;
  CsvFile file(file_path);
  if (!file.is_open()) return;
  if (file.is_new()) file.put("Date,Time,%Vsz,%Cpu\n");
  file.put(now_text() + "," + std::to_string(figures->first) + "," + std::to_string(figures->second) + "\n");
}

}  // namespace trelvik
