#include "lib/web/status_report.hpp"

#include "lib/base/dateutil.hpp"
#include "lib/base/log.hpp"
#include "lib/base/pipe.hpp"
#include "lib/base/shell_quote.hpp"
#include "lib/names/device_paths.hpp"
#include "lib/session/session_globals.hpp"
#include "lib/web/httputil.hpp"
#include "lib/web/ptz_test.hpp"

namespace trelvik {
namespace {

void append_member(std::string& out, std::string_view name, std::string_view value) {
  out += '"';
  out += name;
  out += "\":\"";
  out += json_escape(value);
  out += '"';
}

}  // namespace

std::string status_session_json(const CollectedSession& session) {
  std::string out = "{";
  append_member(out, "Path", session.path);
  out += ',';
  append_member(out, "StartTime", session.start_time);
  out += ',';
  append_member(out, "EndTime", session.end_time);
  out += ',';
  append_member(out, "size", session.size);
  out += ',';
  append_member(out, "sizeZip", session.size_zip);
  out += '}';
  return out;
}

std::string status_report_head(bool active, std::string_view device_time, std::uint64_t interval,
                               std::string_view given_times) {
  std::string out(kHttpJsonOk);
  out += "{\"active\":";
  out += active ? "true" : "false";
  out += ",\"device\":{\"Time\":\"" + json_escape(device_time) + "\"}";
  out += ",\"miscellaneous\":{\"ptz_test_interval\":" + std::to_string(interval);
  out += ",\"ptz_test_given_times\":\"" + json_escape(given_times) + "\"}";
  return out;
}

std::string status_collector_command(std::string_view serial_number) {
  return shell_word(device::shell_script("collect_monitoring_sessions.sh")) + " '" +
         shell_escape_single(serial_number) + "'";
}

void print_previous_sessions(FILE* dest, std::string_view serial_number) {
  ReadPipe collector(status_collector_command(serial_number));
  if (!collector.is_open()) {
    LOG_ERROR("Could not start collect_monitoring_sessions.sh");
    std::fputs("[]", dest);
    return;
  }
  std::fputs("[", dest);
  CollectedSession fields;
  bool first = true;
  std::string line;
  while (collector.read_line(line)) {
    if (!status_apply_collector_line(fields, line)) continue;
    const std::string object = (first ? "" : ",") + status_session_json(fields);
    std::fwrite(object.data(), 1, object.size(), dest);
    fields = CollectedSession{};
    first = false;
  }
  std::fputs("]", dest);
  collector.close();  // the collector's exit status tells nothing the output did not
}

void status_report_print(std::string_view serial_number, FILE* out) {
  char device_time[40] = {};
  date_format_now(device_time, sizeof device_time, "%H:%M:%S %Y-%m-%d");
  const SessionPtr session = monitoring_session_load();
  const std::uint64_t interval = ptz_test_interval_get();
  const std::string head = status_report_head(monitoring_session_is_active(session.get()), device_time, interval,
                                              ptz_test_given_times_get().value_or(""));
  std::fwrite(head.data(), 1, head.size(), out);
  std::fputs(",\"sessions\":", out);
  print_previous_sessions(out, serial_number);
  std::fputs("}", out);
}

}  // namespace trelvik
