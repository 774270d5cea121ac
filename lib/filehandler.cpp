#include "lib/filehandler.hpp"

#include <fcntl.h>
#include <fnmatch.h>
#include <glib.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "lib/atomic_file.hpp"
#include "lib/csv_file.hpp"
#include "lib/dateutil.hpp"
#include "lib/device_paths.hpp"
#include "lib/fileutil.hpp"
#include "lib/log.hpp"
#include "lib/nemor.hpp"
#include "lib/pipe.hpp"
#include "lib/shell_quote.hpp"
#include "lib/strutil.hpp"
#include "lib/sysutil.hpp"

namespace trelvik {
namespace {

ReadPipe open_or_die(const std::string& command) {
  ReadPipe pipe(command);
  if (!pipe.is_open()) FATAL_POPEN(command.c_str());
  return pipe;
}

std::string without_line_end(std::string line) {
  if (!line.empty() && line.back() == '\n') line.pop_back();
  return line;
}

}  // namespace

int ps_grep_and_check_if_included(const char* grep, const char* strstr_string) {
  ReadPipe pipe = open_or_die("ps | grep \"" + shell_escape_double(grep) + "\"");
  std::string line;
  while (pipe.read_line(line)) {
    if (line.find(strstr_string) != std::string::npos) return 1;
  }
  return 0;
}

std::uint64_t parse_du_kib(const std::string& last_line) {
  long long kib = 0;
  const char* begin = last_line.data();
  const auto [end, error] = std::from_chars(begin, begin + last_line.size(), kib);
  if (error != std::errc() || end == begin || kib < 0) return 0;
  return static_cast<std::uint64_t>(kib) * 1024;
}

std::uint64_t get_dir_size_bytes(const char* path) {
  ReadPipe pipe = open_or_die("du -bks \"" + shell_escape_double(path) + "\"");
  std::string line, last;
  while (pipe.read_line(line)) last = line;
  pipe.close();
  return parse_du_kib(last);
}

std::string get_names_listed_from_directory(const char* path, std::size_t size) {
  ReadPipe pipe = open_or_die("ls \"" + shell_escape_double(path) + "\"");
  const std::size_t limit = size == 0 ? 0 : size - 1;
  std::string names, line;
  while (names.size() < limit && pipe.read_line(line)) {
    if (!names.empty()) names += ',';
    names += without_line_end(line);
  }
  if (names.size() > limit) names.resize(limit);
  return names;
}

// ----- shared by the collectors ---------------------------------------------------

namespace {

constexpr std::size_t npos = std::string_view::npos;

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

std::string collector_folder(const char* session_path, const char* name) {
  std::string folder(session_path);
  folder += "/system_monitoring/";
  folder += name;
  return folder;
}

// The Date and Time columns of a row.
std::string csv_timestamp() {
  char stamp[40] = {};
  date_format_now(stamp, sizeof stamp, "%Y-%m-%d,%H:%M:%S");
  return stamp;
}

// The next piece of `rest` as a fixed-size line reader (fgets) returns it: up
// to and including the next line feed, at most `max` characters.
std::string_view next_piece(std::string_view& rest, std::size_t max) {
  const std::size_t line_feed = rest.find('\n');
  const std::size_t length = std::min(line_feed == npos ? rest.size() : line_feed + 1, max);
  const std::string_view piece = rest.substr(0, length);
  rest.remove_prefix(length);
  return piece;
}

std::string_view without_line_feed(std::string_view text) { return text.substr(0, text.find('\n')); }

// A key read from a device file names a file in the collector's folder; one
// with a "/" would reach outside it.
bool names_a_file(std::string_view key) { return key.find('/') == npos; }

// Only an abnormal end is reported: a command that exits with any status has
// still printed what it could.
void report_command_close(int status, const char* command, int line, const char* function) {
  if (status == -1) {
    syslog(LOG_DEBUG, "[Trelvik]: error reported by pclose from command: %s [src] line %d in %s", command, line,
           function);
  } else if ((status & 0x7f) != 0) {
    syslog(LOG_DEBUG, "[Trelvik]: Unsuccessful command: %s [src] line %d in %s", command, line, function);
  }
}

}  // namespace

// ----- network ------------------------------------------------------------------------

namespace {

// The kernel prints eight metrics per direction; ten leave room for more.
constexpr std::size_t kMaxMetricNames = 10;
constexpr int kMaxInterfaces = 10;

struct MetricNames {
  std::vector<std::string_view> receive, transmit;  // every name of each group, in header order
  bool split = false;                               // the bar before the transmit names was seen
};

// Reads the metric names from the second header line, whose groups are each
// introduced by "|". Returns 0 or a failure code; `next` is where the
// interface lines begin.
int parse_metric_names(std::string_view text, MetricNames& names, std::size_t& next, std::size_t& failed_at) {
  const std::size_t first_end = text.find('\n');
  if (first_end == npos) return 127;
  const std::size_t line_end = text.find('\n', first_end + 1);
  const std::size_t limit = line_end == npos ? text.size() : line_end;
  const std::size_t bar = text.find('|', first_end + 1);
  if (bar == npos || bar >= limit) return 139;
  next = line_end == npos ? text.size() : line_end + 1;
  for (std::size_t pos = bar + 1; pos < limit;) {
    while (pos < limit && !is_alpha(text[pos]) && text[pos] != '|') ++pos;
    if (pos == limit) return line_end == npos ? 153 : 0;
    if (text[pos] == '|') {
      names.split = true;
      ++pos;
      continue;
    }
    std::size_t end = text.find_first_of(" |", pos);
    if (end == npos || end > limit) {
      if (line_end == npos) {
        failed_at = pos;
        return 166;
      }
      end = limit;
    }
    (names.split ? names.transmit : names.receive).push_back(text.substr(pos, end - pos));
    pos = end;
  }
  return 0;
}

// Enters counter number `index` of an interface line under its metric name;
// a value without a known name is dropped.
void add_counter(NetDevParse& result, const std::string& interface, const MetricNames& names, std::size_t index,
                 std::string_view value) {
  std::string key;
  if (index < names.receive.size()) {
    if (index >= kMaxMetricNames) return;
    key = "receive_";
    key += names.receive[index];
  } else {
    index -= names.receive.size();
    if (index >= names.transmit.size() || index >= kMaxMetricNames) return;
    key = "transmit_";
    key += names.transmit[index];
  }
  result.interfaces[interface][key] = value;
}

// One interface line: blanks, the name, ":" and the counters separated by
// blanks. A line without ":" is an interface without counters. Without a line
// feed the line was cut short: 236 while looking for text, 245 inside a word.
int parse_interface_line(std::string_view line, bool terminated, const MetricNames& names, NetDevParse& result) {
  std::size_t pos = line.find_first_not_of(' ');
  if (pos == npos) return terminated ? 0 : 236;
  const std::size_t colon = line.find(':', pos);
  if (colon == npos) return terminated ? 0 : 245;
  const std::string interface(line.substr(pos, colon - pos));
  const bool keep = names_a_file(interface);
  std::size_t index = 0;
  for (pos = colon + 1;;) {
    while (pos < line.size() && !is_digit(line[pos])) ++pos;
    if (pos == line.size()) return terminated ? 0 : 236;
    std::size_t end = line.find(' ', pos);
    if (end == npos) {
      if (!terminated) return 245;
      end = line.size();
    }
    if (keep) add_counter(result, interface, names, index, line.substr(pos, end - pos));
    ++index;
    pos = end;
  }
}

// Counters are unsigned 64-bit; the failure totals add them as 32-bit numbers.
std::uint32_t to_u32(std::string_view text) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < text.size() && is_digit(text[i]); ++i) {
    value = value * 10u + static_cast<std::uint32_t>(text[i] - '0');
  }
  return value;
}

std::optional<std::int64_t> counter_value(const NetDevCounters& counters, const char* key) {
  const auto found = counters.find(key);
  if (found == counters.end()) return std::nullopt;
  std::int64_t value = 0;
  const std::string& text = found->second;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc()) return std::nullopt;
  return value;
}

std::uint64_t as_unsigned(std::int64_t value) { return static_cast<std::uint64_t>(value); }

// Bytes moved in both directions; the sum wraps instead of overflowing.
std::int64_t bytes_between(const NetSample& previous, const NetSample& current) {
  return static_cast<std::int64_t>(as_unsigned(current.receive) - as_unsigned(previous.receive) +
                                   as_unsigned(current.transmit) - as_unsigned(previous.transmit));
}

void log_parse_failure(const NetDevParse& parse, std::string_view text) {
  if (parse.code == 166) {
    LOG_ERROR("FAILED %d\nAttempted to find word stating at: [%s]", 163,
              std::string(text.substr(parse.failed_at)).c_str());
  } else if (parse.code == 245) {
    LOG_ERROR("FAILED %d\n", 244);
  } else if (parse.code != 236) {  // a line cut while looking for text has no message of its own
    LOG_ERROR("%s FAILED %d\n", "parse_proc_net_dev", parse.code - 1);
  }
  LOG_ERROR("Error on parsing: %d", parse.code);
}

// The eth0 rate since the previous call of the process, across sessions: the
// first sample after start-up only becomes the reference.
void store_network_bandwidth_new(const std::string& folder, const NetDevParse& parse) {
  static NetSample last;  // time 0: no previous sample
  const auto eth0 = parse.interfaces.find("eth0");
  if (eth0 == parse.interfaces.end()) return;
  const auto receive = counter_value(eth0->second, "receive_bytes");
  const auto transmit = counter_value(eth0->second, "transmit_bytes");
  if (!receive || !transmit) return;
  if (last.time != 0) {
    const NetSample now{std::time(nullptr), *receive, *transmit};
    if (const auto rate = network_rate_text(last, now)) {
      store_network_info_no_retention(folder.c_str(), rate->c_str());
    }
  }
  last = NetSample{std::time(nullptr), *receive, *transmit};
}

void store_interface_files(const std::string& folder, const NetDevParse& parse) {
  const std::string timestamp = csv_timestamp();
  for (const auto& [interface, counters] : parse.interfaces) {
    const std::string path = folder + "/" + interface + ".csv";
    // Every counter of the interface tries the file once, so a lasting
    // failure is logged once per counter.
    auto csv = std::make_unique<CsvFile>(path, __FILE__, __LINE__);
    for (std::size_t tries = 1; tries < counters.size() && !csv->is_open(); ++tries) {
      csv = std::make_unique<CsvFile>(path, __FILE__, __LINE__);
    }
    if (!csv->is_open()) continue;
    if (csv->is_new()) csv->put(net_dev_header(counters));
    csv->put(net_dev_row(counters, timestamp));
  }
}

}  // namespace

NetDevParse parse_proc_net_dev(std::string_view text) {
  NetDevParse result;
  text = text.substr(0, text.find('\0'));
  MetricNames names;
  std::size_t pos = 0;
  result.code = parse_metric_names(text, names, pos, result.failed_at);
  if (names.split) result.receive_metrics = static_cast<int>(std::min(names.receive.size(), kMaxMetricNames));
  if (result.code != 0) return result;
  for (int count = 0; count < kMaxInterfaces && pos < text.size(); ++count) {
    const std::size_t end = text.find('\n', pos);
    const bool terminated = end != npos;
    const std::string_view line = text.substr(pos, (terminated ? end : text.size()) - pos);
    result.code = parse_interface_line(line, terminated, names, result);
    if (result.code != 0) {
      result.interfaces.clear();
      return result;
    }
    pos = terminated ? end + 1 : text.size();
  }
  return result;
}

std::string net_dev_header(const NetDevCounters& counters) {
  std::string header = "Date, Time, Receive: ";
  bool first = true;
  bool transmit = false;
  for (const auto& [key, value] : counters) {
    const bool is_transmit = key.starts_with("transmit_");
    if (is_transmit && !transmit) {
      header += ", Transmit: ";
      transmit = true;
    } else if (!first) {
      header += ", ";
    }
    header += std::string_view(key).substr(key.find('_') + 1);
    first = false;
  }
  header += ", Failed packages total (receive), Failed packages total (transmit)\n";
  return header;
}

std::string net_dev_row(const NetDevCounters& counters, std::string_view timestamp) {
  std::string row(timestamp);
  std::uint32_t receive_failed = 0;
  std::uint32_t transmit_failed = 0;
  for (const auto& [key, value] : counters) {
    row += ',';
    row += value;
    if (key == "receive_errs" || key == "receive_drop" || key == "receive_frame") {
      receive_failed += to_u32(value);
    } else if (key == "transmit_errs" || key == "transmit_drop") {
      transmit_failed += to_u32(value);
    }
  }
  row += ',' + std::to_string(receive_failed) + ',' + std::to_string(transmit_failed) + '\n';
  return row;
}

std::optional<std::string> network_rate_text(const NetSample& previous, const NetSample& current) {
  const auto seconds = static_cast<std::int32_t>(current.time - previous.time);
  const std::int64_t bytes = bytes_between(previous, current);
  std::int64_t per_second = 0;
  if (seconds == -1) {
    per_second = static_cast<std::int64_t>(0 - as_unsigned(bytes));  // the one quotient that could overflow
  } else if (seconds != 0) {
    per_second = bytes / seconds;
  }
  // 12,500 bytes per second are 0.1 Mbit/s; the rate is cut, not rounded, to a tenth.
  const double mbit = static_cast<double>(per_second / 12500) / 10.0;
  if (mbit < 0.0) return std::nullopt;
  char text[100] = {};
  BOUNDED_FORMAT(text, sizeof text, "%.1f Mbit/s", mbit);
  return std::string(text);
}

void store_network_info_no_retention(const char* path, const char* value) {
  CsvFile csv(std::string(path) + "/network.csv");
  if (!csv.is_open()) return;
  if (csv.is_new()) csv.put("Date,Time,Network Bandwidth (Mbit/s)\r\n");
  csv.put(csv_timestamp() + "," + value + "\r\n");
}

void store_proc_net_dev(const char* session_path) {
  const std::string source = device::proc("net/dev");
  std::string text;
  if (!read_text_file(source, text)) {
    LOG_ERROR("Could not open file '%s'", source.c_str());
    return;
  }
  // The read went well: what fails from here on has no system cause to show.
  errno = 0;
  if (text.empty()) {
    LOG_ERROR("Could not read from file %s", source.c_str());
    return;
  }
  syslog(LOG_DEBUG, "Read from files %s: [%s]", source.c_str(), text.c_str());
  const NetDevParse parse = parse_proc_net_dev(text);
  if (parse.receive_metrics) {
    syslog(LOG_DEBUG, "%s There are %d number of metrics\n", "parse_proc_net_dev", *parse.receive_metrics);
  }
  if (parse.code != 0) {
    log_parse_failure(parse, text);
    return;
  }
  const std::string folder = collector_folder(session_path, "monitoring_network");
  store_network_bandwidth_new(folder, parse);
  store_interface_files(folder, parse);
}

// ----- streams ---------------------------------------------------------------------------

namespace {

// Two blanks after "--print-reply" are the device's own command line.
constexpr const char* kStreamsCommand =
    "dbus-send --system --print-reply  --reply-timeout=1000 --dest=com.zurn.Streamer /com/zurn/Streamer/Cache "
    "com.zurn.Streamer.Cache.GetStreams | grep string | sort";

// The reply is read in pieces of at most 199 characters; a longer line goes
// on as a further entry.
constexpr std::size_t kStreamPiece = 199;

// The value of a reply line: what follows "string" and one more character,
// with the value's quotes already turned into blanks; empty when the line
// ends before that.
std::string_view stream_value(std::string_view line) {
  const std::size_t at = line.find("string");
  if (at == npos) return line;
  const std::size_t start = at + 7;
  return start <= line.size() ? line.substr(start) : std::string_view();
}

}  // namespace

std::string stream_entries(std::string_view output) {
  std::string cell;
  int entries = 0;
  for (std::string_view rest = output; !rest.empty();) {
    const std::string_view piece = next_piece(rest, kStreamPiece);
    if (piece.starts_with("Error ")) {
      cell += "Error: Failed to get stream info";
      ++entries;
    }
    std::string line(without_line_feed(piece));
    std::replace(line.begin(), line.end(), '"', ' ');
    if (entries > 0) cell += '+';
    cell += stream_value(line);
    ++entries;
  }
  if (entries == 0) cell = "No streams ";
  return cell;
}

void store_video_stream_history_no_retention(const char* session_path) {
  const std::string folder = collector_folder(session_path, "monitoring_streams");
  const std::string timestamp = csv_timestamp();
  CsvFile csv(folder + "/stream.csv");
  if (!csv.is_open()) return;
  if (csv.is_new()) csv.put("Date,Time,Streams\r\n");
  csv.put(timestamp + ",");
  ReadPipe pipe(kStreamsCommand);
  if (!pipe.is_open()) FATAL_POPEN(kStreamsCommand);
  std::string output, line;
  while (pipe.read_line(line)) output += line;
  csv.put(stream_entries(output) + "\r\n");
  report_command_close(pipe.close(), kStreamsCommand, __LINE__, "store_video_stream_history_no_retention");
}

// ----- radar -----------------------------------------------------------------------------

namespace {

// A radar data file is copied once per session (the folder is new for each).
void copy_radar_data_once(const std::string& source, const std::string& destination) {
  if (access(destination.c_str(), F_OK) == 0) return;
  if (errno != ENOENT) {
    syslog(LOG_WARNING, "access() failed for %s: %s", destination.c_str(), std::strerror(errno));
    errno = 0;
    return;
  }
  errno = 0;
  file_copy(source.c_str(), destination.c_str());
}

// The statistics are refreshed at every call; the copy never overwrites, so
// the old one goes first.
void refresh_radar_statistics(const std::string& source, const std::string& destination) {
  if (access(destination.c_str(), F_OK) == 0) file_remove(destination.c_str());
  errno = 0;
  file_copy(source.c_str(), destination.c_str());
}

}  // namespace

void store_radar_data(const char* session_path) {
  const std::string folder = collector_folder(session_path, "monitoring_radar");
  const std::string source_dir = device::radar_dir();
  std::error_code error;
  for (std::filesystem::directory_iterator entry(source_dir, error), end; !error && entry != end;
       entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    const bool data = fnmatch("radar_*.data", name.c_str(), 0) == 0;
    if (!data && fnmatch("instqual_lt_stats_*.csv", name.c_str(), 0) != 0) continue;
    const std::string source = source_dir + "/" + name;
    const std::string destination = folder + "/" + name;
    if (data) {
      copy_radar_data_once(source, destination);
    } else {
      refresh_radar_statistics(source, destination);
    }
  }
}

// ----- memory -----------------------------------------------------------------------------

namespace {

// Lines are read in pieces of at most 255 characters.
constexpr std::size_t kMeminfoPiece = 255;

MeminfoLine parse_meminfo_line(std::string_view piece) {
  const std::string_view line = without_line_feed(piece);
  const std::size_t colon = line.find(':');
  MeminfoLine entry;
  if (colon == npos || !names_a_file(line.substr(0, colon))) {
    entry.skipped = true;
    entry.text = line;
    return entry;
  }
  entry.text = line.substr(0, colon);
  const std::size_t digit = line.find_first_of("0123456789", colon);
  if (digit != npos) {
    const std::size_t blank = line.find(' ', digit);
    entry.value = line.substr(digit, blank == npos ? npos : blank - digit);
  }
  return entry;
}

void append_meminfo_row(const std::string& folder, const MeminfoLine& line, const std::string& timestamp) {
  CsvFile csv(folder + "/" + line.text + ".csv");
  if (!csv.is_open()) return;
  // Every key gets "(kB)", also those that count pages.
  if (csv.is_new()) csv.put("Date,Time,Memory " + line.text + " (kB)\r\n");
  csv.put(timestamp + "," + line.value + "\r\n");
}

}  // namespace

std::vector<MeminfoLine> parse_proc_meminfo(std::string_view text) {
  std::vector<MeminfoLine> lines;
  for (std::string_view rest = text; !rest.empty();) {
    lines.push_back(parse_meminfo_line(next_piece(rest, kMeminfoPiece)));
  }
  return lines;
}

void store_proc_meminfo(const char* session_path) {
  const std::string folder = collector_folder(session_path, "monitoring_meminfo");
  const std::string timestamp = csv_timestamp();
  const std::string source = device::proc("meminfo");
  std::string text;
  if (!read_text_file(source, text)) {
    LOG_ERROR("Could not open file '%s'", source.c_str());
    return;
  }
  for (const MeminfoLine& line : parse_proc_meminfo(text)) {
    if (line.skipped) {
      syslog(LOG_WARNING, "Skipping %s", line.text.c_str());
    } else {
      append_meminfo_row(folder, line, timestamp);
    }
  }
}

// ----- load ------------------------------------------------------------------------------

namespace {

// Only the first 99 characters of uptime's first line are read.
constexpr std::size_t kUptimeLine = 99;

// Each text starts after "average:" or a comma, less one blank if there is one.
std::string_view skip_one_blank(std::string_view text) {
  if (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  return text;
}

}  // namespace

std::optional<LoadAverage> parse_load_average(std::string_view first_line) {
  const std::string_view line = without_line_feed(first_line.substr(0, kUptimeLine));
  const std::size_t at = line.find("average:");
  if (at == npos) return std::nullopt;
  const std::string_view rest = skip_one_blank(line.substr(at + 8));
  const std::size_t first = rest.find(',');
  if (first == npos) return LoadAverage{std::string(rest), std::string(rest), std::string(rest)};
  LoadAverage load;
  load.one = rest.substr(0, first);
  const std::string_view after = skip_one_blank(rest.substr(first + 1));
  const std::size_t second = after.find(',');
  if (second == npos) {
    load.five = after;
    load.fifteen = load.one;
  } else {
    load.five = after.substr(0, second);
    load.fifteen = skip_one_blank(after.substr(second + 1));
  }
  return load;
}

void store_load_avg_info_no_retention(const char* session_path) {
  // Repeats of the same failure stay quiet until a good line comes again.
  static bool error_detected_and_reported = false;
  const std::string folder = collector_folder(session_path, "monitoring_load");
  ReadPipe pipe("uptime");
  if (!pipe.is_open()) FATAL_POPEN("uptime");
  LoadAverage load;
  if (std::string line; pipe.read_line(line)) {
    std::optional<LoadAverage> parsed = parse_load_average(line);
    if (!parsed) {
      if (!error_detected_and_reported) {
        syslog(LOG_DEBUG,
               "[Trelvik]: Unable to read the load average using the command 'uptime'. The message returned "
               "contained no string that read 'load average'.");
        error_detected_and_reported = true;
      }
      return;
    }
    error_detected_and_reported = false;
    load = std::move(*parsed);
  }
  CsvFile csv(folder + "/load.csv");
  if (!csv.is_open()) return;
  if (csv.is_new()) {
    csv.put("Date,Time,Load average (1 min),Load average (5 min),Load average (15 min)\r\n");
  }
  csv.put(csv_timestamp() + "," + load.one + "," + load.five + "," + load.fifteen + "\r\n");
  report_command_close(pipe.close(), "uptime", __LINE__, "store_load_avg_info_no_retention");
}

// ----- snapshots ---------------------------------------------------------------------------

void zeda_monitor_status_snapshot(const char* session_path) {
  qorm_systemf("%s \"%s/%s/%s\" &", shell_word(device::shell_script("zeda_status_monitor.sh")).c_str(),
               shell_escape_double(session_path).c_str(), "system_monitoring", "monitoring_zeda");
}

void shellscript_invoker(const char* path, const char* name, bool quiet) {
  if (ps_grep_and_check_if_included("Trelvik", name) != 0) {
    syslog(LOG_DEBUG, "ps_grep_and_check_if_included('%s', '%s') return false", "Trelvik", name);
    return;
  }
  qorm_systemf("%s \"%s\" %s &", shell_word(device::shell_script(name)).c_str(), shell_escape_double(path).c_str(),
               quiet ? "> /dev/null 2>&1" : "");
}

void create_serverreport_snapshot(const monitoring_session& session, const char* nemor_user, const char* nemor_pass) {
  if (!session.session_path) return;
  char name[100] = {};
  date_format_now(name, sizeof name, "Server_Report_%Y-%m-%dT%H%M%S%Z.txt");
  const std::string reports = *session.session_path + "/system_monitoring/monitoring_basic/Server_Reports";
  nemor_download(nemor_user, nemor_pass, "/zurn-cgi/serverreport.cgi", (reports + "/" + name).c_str());
  if (session.storage_id) return;  // an edge storage keeps one plain report per call
  // The plain reports go only when the archive took them.
  qorm_systemf("( cd %s && zip -J %s Server_Report_* > /dev/null 2>&1 && rm Server_Report_* ) > /dev/null 2>&1",
               shell_word(reports).c_str(), "Server_Reports.zip");
  char size[24] = {};
  filesize_human_readable(size, sizeof size, (reports + "/Server_Reports.zip").c_str());
  syslog(LOG_INFO, "System Monitoring Session Storage Consumption on Internal Storage -> %s.", size);
}

// ---- Session information file ----

namespace {

constexpr std::size_t kMaxFieldName = 1000;

std::string info_file_of(const char* folder) { return std::string(folder) + "/Session_Information.txt"; }

// Reads, rewrites and atomically replaces the information file under the
// session folder's lock, so that a deactivation in another process and this
// update never overwrite each other's result.
void read_and_update_session_info(const char* path, const char* field, const char* default_value,
                                  value_callback cb) {
  if (std::strlen(field) > kMaxFieldName) {
    LOG_ERROR("Cannot read field names larger than 1000 characters, got: %s", field);
    return;
  }
  const FileLock lock(path);
  const std::string info = info_file_of(path);
  std::string text;
  if (!read_text_file(info, text)) {
    syslog(LOG_DEBUG, "(errno: %s) Could not open file '%s'", errno == 0 ? "None" : std::strerror(errno),
           info.c_str());
    errno = 0;
    return;
  }
  const std::string temporary = std::string(path) + "/Session_Information_tmp_tmp.txt";
  if (!atomic_replace(info, temporary, session_info_rewrite(text, field, default_value, cb))) {
    LOG_ERROR("Could not open file '%s'", info.c_str());
  }
}

}  // namespace

std::optional<std::string> update_data_points(const std::string& value) {
  // Read as strtoul reads it (blanks and a sign allowed, no digits are 0); the
  // count is 32-bit and wraps.
  const auto count = static_cast<std::uint32_t>(std::strtoull(value.c_str(), nullptr, 10));
  return std::to_string(static_cast<std::uint32_t>(count + 1u));
}

std::optional<std::string> update_duration(const std::string& value) {
  unsigned days = 0, hours = 0, minutes = 0;
  if (std::sscanf(value.c_str(), "%u Days %u hours %u minutes", &days, &hours, &minutes) != 3) return std::nullopt;
  const std::uint32_t total = days * 1440u + hours * 60u + minutes + 1u;
  return std::to_string(total / 1440) + " Days " + std::to_string((total / 60) % 24) + " hours " +
         std::to_string(total % 60) + " minutes";
}

std::string session_info_rewrite(const std::string& text, const std::string& field, const char* default_value,
                                 value_callback cb) {
  const std::string key = field + ": ";
  std::string out;
  bool replaced = false;
  for (const std::string_view line : split_lines(text)) {
    const std::optional<std::string> value =
        line.starts_with(key) ? cb(std::string(line.substr(key.size()))) : std::nullopt;
    if (value) {
      out += key + *value + "\n";
      replaced = true;
    } else {
      out += line;
    }
  }
  if (!replaced) out += key + default_value + "\n";
  return out;
}

void update_number_of_collected_data_points(const char* path) {
  read_and_update_session_info(path, "Collected Data Points", "1", update_data_points);
}

void update_session_duration(const char* path) {
  read_and_update_session_info(path, "Duration", "0 Days 0 hours 0 minutes", update_duration);
}

// ---- Archiving ----

bool is_zipping_session(const char* path) {
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) {
    syslog(LOG_WARNING, "Could not get basename of path: %s", path);
    return false;
  }
  return ps_grep_and_check_if_included("zip", slash + 1) == 1;
}

namespace {

// Starts zip from the folder that holds the session folder, then returns to
// the working directory the process had: a daemon must not keep an edge
// storage busy for the rest of its life.
void start_zip_in(const std::string& parent, const std::string& name) {
  const int previous = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (::chdir(parent.c_str()) != 0) {
    LOG_ERROR("Could not change directory to: %s", parent.c_str());
    if (previous >= 0) ::close(previous);
    return;
  }
  syslog(LOG_DEBUG, "zipping '%s'", name.c_str());
  const std::string word = shell_word(name);
  qorm_systemf("zip --recurse-paths %s.zip %s --exclude .tmp\\* > /dev/null 2>&1 &", word.c_str(), word.c_str());
  if (previous >= 0) {
    if (::fchdir(previous) != 0) errno = 0;
    ::close(previous);
  }
}

}  // namespace

int zip_session(const char* path) {
  if (is_zipping_session(path)) return 0;
  if (!is_directory(path)) {
    LOG_ERROR("Path to zip is not a directory: %s", path);
    return 1;
  }
  if (path[0] != '/') {
    LOG_ERROR("Path to zip must be absolute, but got: %s", path);
    return 1;
  }
  gchar* parent = g_path_get_dirname(path);
  gchar* name = g_path_get_basename(path);
  if (std::strcmp(name, "/") == 0) {
    LOG_ERROR("Invalid path to zip: %s", path);
  } else {
    start_zip_in(parent, name);
  }
  g_free(parent);
  g_free(name);
  return 1;
}

bool is_monitory_dir(const char* path) {
  if (path == nullptr) return false;
  const std::string_view text(path);
  std::string localdata = device::localdata_dir();
  localdata.pop_back();  // the prefix is the folder's name without its final "/"
  const bool on_storage = text.starts_with(localdata) ||
                          (text.starts_with(device::storage_root()) && text.find("Trelvik") != std::string_view::npos);
  if (!on_storage || text.find("/..") != std::string_view::npos || !is_directory(path)) return false;
  const std::string_view name = text.substr(text.rfind('/') + 1);
  unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (name.size() != 17 || std::sscanf(std::string(name).c_str(), "%4u%2u%2u_%2u_%2u_%2u", &year, &month, &day,
                                       &hour, &minute, &second) != 6) {
    return false;
  }
  return year >= 1000 && year <= 9999 && month <= 12 && day <= 31 && hour <= 24 && minute <= 60 && second <= 60;
}

}  // namespace trelvik
