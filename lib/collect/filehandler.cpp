#include "lib/collect/filehandler.hpp"

#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "lib/base/dateutil.hpp"
#include "lib/base/fileutil.hpp"
#include "lib/base/log.hpp"
#include "lib/base/pipe.hpp"
#include "lib/base/safe_fs.hpp"
#include "lib/base/shell_quote.hpp"
#include "lib/base/sysutil.hpp"
#include "lib/device/nemor.hpp"
#include "lib/names/device_paths.hpp"
#include "lib/names/session_layout.hpp"
#include "lib/parse/text.hpp"
#include "lib/session/csv_file.hpp"

namespace trelvik {

int ps_grep_and_check_if_included(const char* grep, const char* strstr_string) {
  ReadPipe pipe = open_or_die("ps | grep \"" + shell_escape_double(grep) + "\"");
  std::string line;
  while (pipe.read_line(line)) {
    if (line.find(strstr_string) != std::string::npos) return 1;
  }
  return 0;
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
    names += line_body(line);
  }
  if (names.size() > limit) names.resize(limit);
  return names;
}

// ----- shared by the collectors ---------------------------------------------------

namespace {

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

std::optional<std::int64_t> counter_value(const NetDevCounters& counters, const char* key) {
  const auto found = counters.find(key);
  if (found == counters.end()) return std::nullopt;
  std::int64_t value = 0;
  const std::string& text = found->second;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc()) return std::nullopt;
  return value;
}

void log_parse_failure(const NetDevParse& parse, std::string_view text) {
  if (const std::string line = net_dev_failure_text(parse, text); !line.empty()) LOG_ERROR("%s", line.c_str());
  LOG_ERROR("Error on parsing: %d", net_dev_failure_code(parse.failure));
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
    CsvFile csv(path);
    for (std::size_t tries = 1; tries < counters.size() && !csv.is_open(); ++tries) csv = CsvFile(path);
    if (!csv.is_open()) continue;
    if (csv.is_new()) csv.put(net_dev_header(counters));
    csv.put(net_dev_row(counters, timestamp));
  }
}

}  // namespace

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
  if (parse.failure != NetDevFailure::kNone) {
    log_parse_failure(parse, text);
    return;
  }
  const std::string folder = session_layout::sampling_folder(session_path, session_layout::kNetwork);
  store_network_bandwidth_new(folder, parse);
  store_interface_files(folder, parse);
}

// ----- streams ---------------------------------------------------------------------------

namespace {

// Two blanks after "--print-reply" are the device's own command line.
constexpr const char* kStreamsCommand =
    "dbus-send --system --print-reply  --reply-timeout=1000 --dest=com.zurn.Streamer /com/zurn/Streamer/Cache "
    "com.zurn.Streamer.Cache.GetStreams | grep string | sort";

}  // namespace

void store_video_stream_history_no_retention(const char* session_path) {
  const std::string folder = session_layout::sampling_folder(session_path, session_layout::kStreams);
  const std::string timestamp = csv_timestamp();
  CsvFile csv(folder + "/stream.csv");
  if (!csv.is_open()) return;
  if (csv.is_new()) csv.put("Date,Time,Streams\r\n");
  csv.put(timestamp + ",");
  ReadPipe pipe = open_or_die(kStreamsCommand);
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
  const std::string folder = session_layout::sampling_folder(session_path, session_layout::kRadar);
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

void append_meminfo_row(const std::string& folder, const MeminfoLine& line, const std::string& timestamp) {
  CsvFile csv(folder + "/" + line.text + ".csv");
  if (!csv.is_open()) return;
  // Every key gets "(kB)", also those that count pages.
  if (csv.is_new()) csv.put("Date,Time,Memory " + line.text + " (kB)\r\n");
  csv.put(timestamp + "," + line.value + "\r\n");
}

}  // namespace

void store_proc_meminfo(const char* session_path) {
  const std::string folder = session_layout::sampling_folder(session_path, session_layout::kMeminfo);
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

void store_load_avg_info_no_retention(const char* session_path) {
  // Repeats of the same failure stay quiet until a good line comes again.
  static bool error_detected_and_reported = false;
  const std::string folder = session_layout::sampling_folder(session_path, session_layout::kLoad);
  ReadPipe pipe = open_or_die("uptime");
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
  qorm_systemf("%s \"%s\" &", shell_word(device::shell_script("zeda_status_monitor.sh")).c_str(),
               shell_escape_double(session_layout::sampling_folder(session_path, session_layout::kZeda)).c_str());
}

void shellscript_invoker(const char* path, const char* name, bool quiet) {
  if (ps_grep_and_check_if_included("Trelvik", name) != 0) {
    syslog(LOG_DEBUG, "ps_grep_and_check_if_included('%s', '%s') return false", "Trelvik", name);
    return;
  }
  qorm_systemf("%s \"%s\" %s &", shell_word(device::shell_script(name)).c_str(), shell_escape_double(path).c_str(),
               quiet ? "> /dev/null 2>&1" : "");
}

namespace {

// The download writes a new file into a real folder of the session: neither
// a linked reports folder nor a link planted at the report's name is
// written through.
bool report_name_is_free(const std::string& reports, const std::string& report) {
  const safe_fs::Fd folder = safe_fs::open_folder(reports);
  if (!folder.valid()) {
    // A linked folder is logged; a missing one fails in the download as ever.
    const bool link = errno == ELOOP;
    errno = 0;
    return !link;
  }
  struct stat status {};
  const std::string name = safe_fs::split(report).second;
  const bool link = ::fstatat(folder.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode);
  if (link) safe_fs::log_link(report);
  errno = 0;
  return !link;
}

}  // namespace

void create_serverreport_snapshot(const monitoring_session& session, const char* nemor_user, const char* nemor_pass) {
  if (!session.session_path) return;
  char name[100] = {};
  const std::string format = std::string(session_layout::kServerReportPrefix) + "%Y-%m-%dT%H%M%S%Z.txt";
  date_format_now(name, sizeof name, format.c_str());
  const std::string reports = session_layout::session_file(
      session_layout::sampling_folder(*session.session_path, session_layout::kBasic), session_layout::kServerReports);
  const std::string report = reports + "/" + name;
  if (!report_name_is_free(reports, report)) return;
  nemor_download(nemor_user, nemor_pass, "/zurn-cgi/serverreport.cgi", report.c_str());
  if (session.storage_id) return;  // an edge storage keeps one plain report per call
  // The plain reports go only when the archive took them.
  qorm_systemf("( cd %s && zip -J %s Server_Report_* > /dev/null 2>&1 && rm Server_Report_* ) > /dev/null 2>&1",
               shell_word(reports).c_str(), session_layout::kServerReportsArchive);
  char size[24] = {};
  const std::string archive = session_layout::session_file(reports, session_layout::kServerReportsArchive);
  filesize_human_readable(size, sizeof size, archive.c_str());
  syslog(LOG_INFO, "System Monitoring Session Storage Consumption on Internal Storage -> %s.", size);
}

}  // namespace trelvik
