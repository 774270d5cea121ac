#include "lib/collect/environment.hpp"

#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <memory>

#include "lib/base/fileutil.hpp"
#include "lib/base/log.hpp"
#include "lib/base/pipe.hpp"
#include "lib/device/nemor.hpp"
#include "lib/parse/text.hpp"
#include "lib/parse/tool_lines.hpp"
#include "lib/session/csv_file.hpp"

namespace trelvik {
namespace {

constexpr const char* kSensorListPath = "/zurn-cgi/param.cgi?action=list&group=root.TemperatureControl.Sensor";

#define TEMPERATURE_CONTROLLER                                                                   \
  "dbus-send --system --print-reply --reply-timeout=1000 --dest=com.zurn.TemperatureController " \
  "--type=method_call /com/zurn/TemperatureController com.zurn.TemperatureController."

constexpr const char* kHeaterCountCommand = TEMPERATURE_CONTROLLER "GetNbrOfHeaters";
constexpr const char* kFanCountCommand = TEMPERATURE_CONTROLLER "GetNbrOfFans";
constexpr const char* kTemperaturesCommand = TEMPERATURE_CONTROLLER "GetAllTemperatures string:0";
constexpr const char* kHeaterStatusCommand = TEMPERATURE_CONTROLLER "GetHeaterStatus int32:";
constexpr const char* kFanStatesCommand = TEMPERATURE_CONTROLLER "GetAllFanStatus";
constexpr const char* kTopCommand = "top -n 1 -b";
#undef TEMPERATURE_CONTROLLER

std::string without_line_end(std::string_view line) { return std::string(line_body(line)); }

// Reply and parameter-list lines are read in pieces of at most 255 bytes, "top"
// lines in pieces of 511: a longer line counts as several. This bounds what a
// reply can place in a row or a file name (a sensor name stays well within a
// file name's 255 bytes).
constexpr std::size_t kReplyLinePiece = 255;
constexpr std::size_t kTopLinePiece = 511;

// The output read to its end, as lines cut into pieces.
std::vector<std::string> read_pieces(ReadPipe& pipe, std::size_t piece) {
  std::string output, line;
  while (pipe.read_line(line)) output += line;
  pipe.close();
  std::vector<std::string> lines;
  for (const std::string_view text : split_lines(output, piece)) lines.emplace_back(text);
  return lines;
}

// The whole output of a command whose failure to start is fatal.
std::vector<std::string> read_command(const std::string& command, std::size_t piece = kReplyLinePiece) {
  ReadPipe pipe = open_or_die(command);
  return read_pieces(pipe, piece);
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
  for (const std::string& piece : read_pieces(pipe, kReplyLinePiece)) {
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
  const std::string timestamp = csv_timestamp();
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
  const std::string timestamp = csv_timestamp();
  ensure_folder(path);
  for (int i = 0; i < environment_settings().number_of_heaters; ++i) store_one_heater(path, i, timestamp);
}

void store_fan_status(const char* path) {
  const std::string timestamp = csv_timestamp();
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
  file.put(csv_timestamp() + "," + std::to_string(figures->first) + "," + std::to_string(figures->second) + "\n");
}

}  // namespace trelvik
