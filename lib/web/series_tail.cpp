#include "lib/web/series_tail.hpp"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <map>
#include <optional>
#include <vector>

#include "lib/base/safe_fs.hpp"
#include "lib/names/session_layout.hpp"
#include "lib/parse/series_tail.hpp"
#include "lib/session/session_globals.hpp"
#include "lib/web/httputil.hpp"

namespace trelvik {

namespace {

// An hour of two-minute rounds is some 30 rows; the widest rows (network
// counters) take about 130 bytes.
constexpr std::size_t kTailBytes = std::size_t{32} * 1024;
constexpr std::int64_t kSpan = 3600;
// Rows of a network counter file: receive bytes first, transmit bytes ninth.
constexpr std::size_t kReceiveBytes = 0;
constexpr std::size_t kTransmitBytes = 8;

std::vector<SeriesRow> read_series(int dir, const std::string& name) {
  const safe_fs::Fd file = safe_fs::peek_file_at(dir, name);
  bool whole = false;
  const std::optional<std::string> text =
      file.valid() ? safe_fs::read_end(file.get(), kTailBytes, whole) : std::nullopt;
  if (!text) return {};
  return last_span(parse_series_tail(*text, whole), kSpan);
}

// The names of the ".csv" files of a folder, sorted.
std::vector<std::string> csv_names(int dir) {
  std::vector<std::string> names;
  const int copy = ::dup(dir);
  if (copy < 0) return names;
  DIR* listing = ::fdopendir(copy);
  if (listing == nullptr) {
    ::close(copy);
    return names;
  }
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (name.size() > 4 && name.ends_with(".csv")) names.push_back(name);
  }
  ::closedir(listing);
  std::sort(names.begin(), names.end());
  return names;
}

void append_number(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", value);
  out += text;
}

// [[seconds, value], ...] of one column.
void append_points(std::string& out, const std::vector<SeriesRow>& rows, std::size_t column) {
  out += '[';
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (i > 0) out += ',';
    out += '[' + std::to_string(rows[i].seconds) + ',';
    append_number(out, column < rows[i].values.size() ? rows[i].values[column] : NAN);
    out += ']';
  }
  out += ']';
}

bool first_value_is_number(const std::vector<SeriesRow>& rows) {
  return !rows.empty() && !rows.back().values.empty() && std::isfinite(rows.back().values[0]);
}

struct Tail {
  std::string json;
  std::optional<std::int64_t> last_sample;

  void saw(const std::vector<SeriesRow>& rows) {
    if (!rows.empty()) last_sample = std::max(last_sample.value_or(rows.back().seconds), rows.back().seconds);
  }
};

void append_load(Tail& tail, const std::string& session) {
  const safe_fs::Fd dir = safe_fs::peek_folder(session_layout::sampling_folder(session, session_layout::kLoad));
  const std::vector<SeriesRow> rows = read_series(dir.get(), "load.csv");
  tail.saw(rows);
  tail.json += ",\"load\":";
  append_points(tail.json, rows, 0);
}

// Available memory where the kernel gives it, else free memory.
void append_memory(Tail& tail, const std::string& session) {
  const safe_fs::Fd dir = safe_fs::peek_folder(session_layout::sampling_folder(session, session_layout::kMeminfo));
  const char* name = "MemAvailable";
  std::vector<SeriesRow> rows = read_series(dir.get(), "MemAvailable.csv");
  if (rows.empty()) {
    name = "MemFree";
    rows = read_series(dir.get(), "MemFree.csv");
  }
  tail.saw(rows);
  tail.json += std::string(",\"memory\":{\"name\":\"") + name + "\",\"points\":";
  append_points(tail.json, rows, 0);
  tail.json += '}';
}

// Every sensor file whose values are numbers (fan and heater states are words).
void append_temperatures(Tail& tail, const std::string& session) {
  const safe_fs::Fd dir = safe_fs::peek_folder(session_layout::sampling_folder(session, session_layout::kEnvironment));
  tail.json += ",\"temperatures\":{";
  bool first = true;
  for (const std::string& name : !dir.valid() ? std::vector<std::string>{} : csv_names(dir.get())) {
    const std::vector<SeriesRow> rows = read_series(dir.get(), name);
    if (!first_value_is_number(rows)) continue;
    tail.saw(rows);
    if (!first) tail.json += ',';
    first = false;
    tail.json += '"' + json_escape(name.substr(0, name.size() - 4)) + "\":";
    append_points(tail.json, rows, 0);
  }
  tail.json += '}';
}

// Receive and transmit rates of every interface but the loopback.
void append_network(Tail& tail, const std::string& session) {
  const safe_fs::Fd dir = safe_fs::peek_folder(session_layout::sampling_folder(session, session_layout::kNetwork));
  tail.json += ",\"network\":{";
  bool first = true;
  for (const std::string& name : !dir.valid() ? std::vector<std::string>{} : csv_names(dir.get())) {
    if (name == "lo.csv") continue;
    const std::vector<SeriesRow> rows = read_series(dir.get(), name);
    if (rows.empty() || rows.back().values.size() <= kTransmitBytes) continue;
    tail.saw(rows);
    const std::vector<double> receive = counter_bit_rates(rows, kReceiveBytes);
    const std::vector<double> transmit = counter_bit_rates(rows, kTransmitBytes);
    if (!first) tail.json += ',';
    first = false;
    tail.json += '"' + json_escape(name.substr(0, name.size() - 4)) + "\":[";
    for (std::size_t i = 0; i < receive.size(); ++i) {
      if (i > 0) tail.json += ',';
      tail.json += '[' + std::to_string(rows[i + 1].seconds) + ',';
      append_number(tail.json, receive[i]);
      tail.json += ',';
      append_number(tail.json, transmit[i]);
      tail.json += ']';
    }
    tail.json += ']';
  }
  tail.json += '}';
}

void append_data_points(Tail& tail, const std::string& session) {
  const safe_fs::Fd folder = safe_fs::peek_folder(session);
  const safe_fs::Fd info = safe_fs::peek_file_at(folder.get(), session_layout::kInfoFile);
  bool whole = false;
  const std::optional<std::string> text = info.valid() ? safe_fs::read_end(info.get(), 4096, whole) : std::nullopt;
  const std::optional<std::uint64_t> points = text ? data_points_of(*text) : std::nullopt;
  tail.json += ",\"data_points\":" + (points ? std::to_string(*points) : std::string("null"));
}

// The camera's clock: its local time, as the series count it, and its zone.
std::string clock_json() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  char text[32] = "", offset[8] = "", zone[16] = "";
  if (::localtime_r(&now, &local) != nullptr) {
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::strftime(offset, sizeof offset, "%z", &local);
    std::strftime(zone, sizeof zone, "%Z", &local);
  }
  const std::optional<std::int64_t> seconds = series_time(text);
  return std::string("\"clock\":{\"time\":\"") + text +
         "\",\"seconds\":" + (seconds ? std::to_string(*seconds) : std::string("null")) + ",\"offset\":\"" +
         json_escape(offset) + "\",\"zone\":\"" + json_escape(zone) + "\"}";
}

}  // namespace

std::string series_tail_json(const std::string& session) {
  Tail tail;
  tail.json = '{' + clock_json() + ",\"session\":" + (session.empty() ? "false" : "true");
  if (!session.empty()) {
    append_data_points(tail, session);
    append_load(tail, session);
    append_memory(tail, session);
    append_temperatures(tail, session);
    append_network(tail, session);
  }
  tail.json += ",\"last_sample\":" + (tail.last_sample ? std::to_string(*tail.last_sample) : std::string("null"));
  tail.json += '}';
  return tail.json;
}

void reply_series_tail(FILE* out) {
  const SessionPtr session = monitoring_session_load();
  const std::string folder = monitoring_session_is_active(session.get()) ? *session->session_path : std::string();
  http_print_reply("Status: 200 OK\r\nCache-Control: no-cache\r\nContent-Type: application/json; charset=utf-8\r\n\r\n",
                   series_tail_json(folder), out);
}

}  // namespace trelvik
