#include "lib/web/session_metrics.hpp"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <optional>
#include <tuple>
#include <vector>

#include "lib/base/local_time.hpp"
#include "lib/base/openmetrics.hpp"
#include "lib/base/safe_fs.hpp"
#include "lib/names/session_layout.hpp"
#include "lib/parse/export_rows.hpp"
#include "lib/parse/session_info.hpp"
#include "lib/parse/time_zone_file.hpp"
#include "lib/session/session_globals.hpp"
#include "lib/web/httputil.hpp"

namespace trelvik {

namespace {

// The latest round of every file lies in its last rows: a round writes at
// most a few rows per file (a zone, a package or a reading each). The tail
// read grows from the first size to the last until it holds a row of an
// earlier round.
constexpr std::size_t kTailFirst = 4096;
constexpr std::size_t kTailLast = 1 << 16;
constexpr std::size_t kHeadBytes = 4096;

constexpr MetricFamily kActive{"trelvik_session_active", MetricType::gauge, "1 while a session runs.", false};
constexpr MetricFamily kDataPoints{"trelvik_session_data_points", MetricType::gauge,
                                   "Sampling rounds the running session has collected.", false};

constexpr std::string_view kReplyHeader =
    "Status: 200 OK\r\nCache-Control: no-cache\r\n"
    "Content-Type: application/openmetrics-text; version=1.0.0; charset=utf-8\r\n\r\n";

struct Sample {
  std::uint16_t family;
  std::string labels;
  double value;
  std::int64_t seconds;
};

// The rows of the latest time among the whole rows of `tail`, read from
// the end back to the first readable row of an earlier time; `complete`
// tells whether one was found (or `tail` is the whole file).
std::optional<RowRead> latest_round(const RowReader& reader, std::string_view tail, bool& complete) {
  std::optional<RowRead> latest;
  RowRead row;
  // The piece after the last line end is a row still being written.
  tail = tail.substr(0, tail.rfind('\n') + 1);
  while (!tail.empty()) {
    // The line before the last line end; npos + 1 is the tail's start.
    const std::size_t start = tail.size() < 2 ? 0 : tail.rfind('\n', tail.size() - 2) + 1;
    const std::string_view line = tail.substr(start);
    tail.remove_suffix(line.size());
    if (!reader.read(line, row)) continue;
    if (latest && row.local_seconds != latest->local_seconds) {
      complete = true;
      break;
    }
    if (!latest) latest = RowRead{row.local_seconds, {}};
    latest->samples.insert(latest->samples.end(), row.samples.begin(), row.samples.end());
  }
  return latest;
}

// The file's header and its latest round, from its first line and its last
// bytes only.
std::optional<RowRead> file_round(int dir, const char* name, const std::string& path) {
  const safe_fs::Fd file = safe_fs::peek_file_at(dir, name);
  struct stat status {};
  if (!file.valid() || ::fstat(file.get(), &status) != 0) return std::nullopt;
  std::string head = safe_fs::read_at(file.get(), 0, kHeadBytes);
  head.resize(std::min(head.size(), head.find('\n')));
  const std::optional<RowReader> reader = session_row_reader(path, head);
  std::optional<RowRead> round;
  const auto size = static_cast<std::size_t>(status.st_size);
  for (std::size_t want = kTailFirst; reader; want *= 4) {
    const std::size_t from = size > want ? size - want : 0;
    std::string tail = safe_fs::read_at(file.get(), static_cast<off_t>(from), size - from);
    // The first line of the tail is the header or a row cut by the offset.
    tail.erase(0, std::min(tail.size(), tail.find('\n') + 1));
    bool complete = from == 0;
    round = latest_round(*reader, tail, complete);
    if (complete || want >= kTailLast) break;
  }
  return round;
}

void folder_samples(int sampling, const char* folder, LocalTimeConverter& clock, std::vector<Sample>& out) {
  safe_fs::Fd dir = safe_fs::peek_folder_at(sampling, folder);
  DIR* listing = dir.valid() ? ::fdopendir(dir.get()) : nullptr;
  if (listing == nullptr) return;
  const int fd = dir.release();  // the listing closes it
  while (const dirent* entry = ::readdir(listing)) {
    const std::string path = std::string(session_layout::kSampling) + "/" + folder + "/" + entry->d_name;
    const std::optional<RowRead> round = may_hold_series(path) ? file_round(fd, entry->d_name, path) : std::nullopt;
    if (!round) continue;
    const LocalTimeConverter::Utc utc = clock.to_utc(round->local_seconds);
    if (utc.fit != LocalTimeConverter::Fit::exact) continue;
    for (const RowSample& sample : round->samples)
      out.push_back({sample.family, sample.labels, sample.value, utc.seconds});
  }
  ::closedir(listing);
}

std::string read_session_file(int session, const char* name) {
  const safe_fs::Fd file = safe_fs::peek_file_at(session, name);
  return file.valid() ? safe_fs::read_at(file.get(), 0, kHeadBytes) : std::string();
}

LocalTimeConverter session_clock(int session) {
  const std::optional<SessionTimeZone> zone =
      parse_time_zone_file(read_session_file(session, session_layout::kTimeZoneFile));
  std::string error;
  std::optional<LocalTimeConverter> clock = zone ? LocalTimeConverter::open(zone->zone, error) : std::nullopt;
  if (!clock) clock = LocalTimeConverter::fixed(zone ? zone->offset_minutes : 0);
  return std::move(*clock);
}

std::vector<Sample> round_samples(int session) {
  std::vector<Sample> samples;
  const safe_fs::Fd sampling = safe_fs::peek_folder_at(session, session_layout::kSampling);
  if (!sampling.valid()) return samples;
  LocalTimeConverter clock = session_clock(session);
  for (const char* folder : {session_layout::kMeminfo, session_layout::kLoad, session_layout::kNetwork,
                             session_layout::kKernel, session_layout::kEnvironment, session_layout::kSelf,
                             session_layout::kStreams, session_layout::kVmStatus, session_layout::kZeda}) {
    folder_samples(sampling.get(), folder, clock, samples);
  }
  // One sample per series, the families in the table's order.
  std::stable_sort(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) {
    return std::tie(a.family, a.labels) < std::tie(b.family, b.labels);
  });
  samples.erase(
      std::unique(samples.begin(), samples.end(),
                  [](const Sample& a, const Sample& b) { return a.family == b.family && a.labels == b.labels; }),
      samples.end());
  return samples;
}

void append_facts(std::string& text, const SessionFacts& facts, std::string_view labels,
                  const std::vector<Sample>& samples) {
  std::optional<std::int64_t> round;
  for (const Sample& sample : samples) {
    if (export_families()[sample.family].round) round = std::max(round.value_or(sample.seconds), sample.seconds);
  }
  if (!round) return;
  const MetricFamily& info = export_families()[kSessionInfoFamily];
  append_family_header(text, info);
  append_sample(text, info, labels,
                "model=\"" + escape_label_value(facts.model) + "\",firmware=\"" + escape_label_value(facts.firmware) +
                    "\",storage=\"" + escape_label_value(facts.storage) + '"',
                1, *round);
}

std::optional<std::uint64_t> data_points(std::string_view text) {
  std::uint64_t count = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return count;
}

std::string base_name(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path.substr(path.rfind('/') + 1);
}

}  // namespace

std::string session_metrics_text(const std::string& session_path, const std::string& device_serial) {
  std::string text;
  // A session whose storage is gone (or whose folder is a link) still runs:
  // it answers without a round.
  const safe_fs::Fd session = safe_fs::peek_folder(session_path);
  SessionFacts facts;
  std::vector<Sample> samples;
  if (session.valid()) {
    facts = parse_session_facts(read_session_file(session.get(), session_layout::kInfoFile));
    samples = round_samples(session.get());
  }
  // The information file's serial number is the export's label.
  const std::string labels =
      session_labels(facts.serial.empty() ? device_serial : facts.serial, base_name(session_path));
  append_facts(text, facts, labels, samples);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const MetricFamily& family = export_families()[samples[i].family];
    if (i == 0 || samples[i - 1].family != samples[i].family) append_family_header(text, family);
    append_sample(text, family, labels, samples[i].labels, samples[i].value, samples[i].seconds);
  }
  append_family_header(text, kActive);
  append_sample(text, kActive, labels, "", 1, std::nullopt);
  if (const std::optional<std::uint64_t> points = data_points(facts.data_points)) {
    append_family_header(text, kDataPoints);
    append_sample(text, kDataPoints, labels, "", static_cast<double>(*points), std::nullopt);
  }
  return text + std::string(kOpenMetricsEnd);
}

void reply_session_metrics(FILE* out, const std::string& serial) {
  const SessionPtr session = monitoring_session_load();
  std::string body;
  if (monitoring_session_is_active(session.get())) {
    body = session_metrics_text(*session->session_path, serial);
  } else {
    append_family_header(body, kActive);
    append_sample(body, kActive, "serial=\"" + escape_label_value(serial) + '"', "", 0, std::nullopt);
    body += kOpenMetricsEnd;
  }
  http_print_reply(kReplyHeader, body, out);
}

}  // namespace trelvik
