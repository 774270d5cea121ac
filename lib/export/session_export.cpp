#include "lib/export/session_export.hpp"

#include <syslog.h>

#include <algorithm>
#include <ctime>
#include <optional>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "lib/base/local_time.hpp"
#include "lib/base/openmetrics.hpp"
#include "lib/names/session_layout.hpp"
#include "lib/parse/export_rows.hpp"
#include "lib/parse/session_info.hpp"
#include "lib/parse/time_zone_file.hpp"

namespace trelvik {

namespace {

// 2000-01-01 00:00:00 UTC: a camera clock before it was never set.
constexpr std::int64_t kEarliest = 946684800;
// Rows may be a little ahead of the machine that exports them, not more.
constexpr std::int64_t kAheadLimit = 86400;
// The collectors' rows are short; a longer line is damage (a NUL block
// without a line end), kept from growing without bound.
constexpr std::size_t kMaxLine = 1 << 16;
// The text is handed to the output in pieces of about this size.
constexpr std::size_t kFlushSize = 1 << 20;

struct Point {
  std::int64_t seconds;
  double value;
};

struct Series {
  std::uint16_t family;
  std::string labels;
  std::vector<Point> points;
};

std::string utc_text(std::int64_t seconds) {
  const std::time_t when = static_cast<std::time_t>(seconds);
  std::tm parts{};
  char text[64] = "?";
  if (gmtime_r(&when, &parts) != nullptr) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
  return text;
}

std::string local_text(std::int64_t local_seconds) {
  std::string text = utc_text(local_seconds);
  return text.substr(0, text.size() - 4);
}

// Lines out of the pieces a source hands over; a line longer than kMaxLine
// comes as one overlong line.
class LineSplitter {
 public:
  // Calls `line(text, overlong)` per whole line; stops when it answers false.
  template <class Handler>
  bool feed(std::string_view piece, Handler&& line) {
    while (!piece.empty()) {
      const std::size_t end = piece.find('\n');
      const std::string_view part = piece.substr(0, end);
      if (pending_.size() + part.size() > kMaxLine) {
        overlong_ = true;
      } else {
        pending_ += part;
      }
      if (end == std::string_view::npos) return true;
      piece.remove_prefix(end + 1);
      const bool go_on = line(std::string_view(pending_), overlong_);
      pending_.clear();
      overlong_ = false;
      if (!go_on) return false;
    }
    return true;
  }
  // Bytes after the last line end: a row cut short.
  bool has_tail() const { return !pending_.empty() || overlong_; }

 private:
  std::string pending_;
  bool overlong_ = false;
};

class Exporter {
 public:
  Exporter(SessionSource& source, const ExportOptions& options, ExportCounts& counts, std::string& refusal)
      : source_(source), options_(options), counts_(counts), refusal_(refusal) {}

  bool read_session();
  bool write(ExportOutput& out);

 private:
  bool read_small_file(const char* name, std::string& text);
  bool open_zone();
  bool read_file(const std::string& path);
  bool add_row(const std::string& path, const RowRead& row);
  void add_sample(const RowSample& sample, std::int64_t seconds);
  bool settle_series(Series& series);
  bool write_family(std::size_t family, const std::vector<std::size_t>& members, ExportOutput& out);
  bool flush(ExportOutput& out, bool always);

  SessionSource& source_;
  const ExportOptions& options_;
  ExportCounts& counts_;
  std::string& refusal_;
  SessionFacts facts_;
  std::optional<LocalTimeConverter> clock_;
  std::vector<Series> series_;
  std::unordered_map<std::string, std::size_t> index_;
  std::string key_;
  std::vector<std::int64_t> round_times_;
  std::string text_;
};

bool Exporter::read_small_file(const char* name, std::string& text) {
  std::string error;
  const bool ok = source_.read(
      name,
      [&](std::string_view piece) {
        text += piece;
        return text.size() <= kMaxLine;
      },
      error);
  if (!ok) refusal_ = "cannot read '" + std::string(name) + "' whole: " + error;
  return ok;
}

bool Exporter::open_zone() {
  std::string error;
  if (!options_.zone.empty()) {
    clock_ = LocalTimeConverter::open(options_.zone, error);
    if (!clock_) refusal_ = error;
    return clock_.has_value();
  }
  const auto& files = source_.files();
  if (!std::binary_search(files.begin(), files.end(), session_layout::kTimeZoneFile)) {
    syslog(LOG_WARNING, "The session did not record its time zone: its local times are read as UTC (--tz sets one)");
    clock_ = LocalTimeConverter::fixed(0);
    return true;
  }
  std::string text;
  if (!read_small_file(session_layout::kTimeZoneFile, text)) return false;
  const std::optional<SessionTimeZone> zone = parse_time_zone_file(text);
  if (!zone) {
    refusal_ = std::string("the session's ") + session_layout::kTimeZoneFile + " cannot be read (--tz sets the zone)";
    return false;
  }
  clock_ = LocalTimeConverter::open(zone->zone, error);
  if (!clock_) {
    syslog(LOG_WARNING, "%s; the session's start offset %s is used for all its rows", error.c_str(),
           format_utc_offset(zone->offset_minutes).c_str());
    clock_ = LocalTimeConverter::fixed(zone->offset_minutes);
  }
  return true;
}

bool Exporter::read_session() {
  std::string info;
  if (!read_small_file(session_layout::kInfoFile, info)) return false;
  facts_ = parse_session_facts(info);
  if (facts_.serial.empty()) {
    refusal_ = "not a session: its information file names no serial number";
    return false;
  }
  if (!open_zone()) return false;
  for (const std::string& path : source_.files()) {
    if (may_hold_series(path) && !read_file(path)) return false;
  }
  return true;
}

bool Exporter::read_file(const std::string& path) {
  std::optional<RowReader> reader;
  bool header = true;
  bool refused = false;
  std::size_t skipped = 0;
  RowRead row;
  LineSplitter lines;
  const auto on_line = [&](std::string_view line, bool overlong) {
    if (header) {
      header = false;
      if (!overlong) reader = session_row_reader(path, line);
      return reader.has_value();
    }
    // A power cut during an append leaves a block of NUL bytes where the
    // row was, and the next row goes on behind it: the block is lost, the
    // row is not.
    if (const std::size_t data = line.find_first_not_of('\0'); data > 0 && !overlong) {
      ++skipped;
      line.remove_prefix(std::min(data, line.size()));
      if (line.empty()) return true;
    }
    if (overlong || !reader->read(line, row)) {
      ++skipped;
      return true;
    }
    refused = !add_row(path, row);
    return !refused;
  };
  std::string error;
  if (!source_.read(
          path, [&](std::string_view piece) { return lines.feed(piece, on_line); }, error)) {
    refusal_ = "cannot read '" + path + "' whole: " + error;
    return false;
  }
  if (refused) return false;
  if (reader && lines.has_tail()) ++skipped;
  if (skipped > 0) syslog(LOG_WARNING, "%s: %zu unreadable rows skipped", path.c_str(), skipped);
  counts_.skipped_rows += skipped;
  for (Series& series : series_) series.points.shrink_to_fit();
  return true;
}

bool Exporter::add_row(const std::string& path, const RowRead& row) {
  const LocalTimeConverter::Utc utc = clock_->to_utc(row.local_seconds);
  if (utc.fit != LocalTimeConverter::Fit::exact) {
    refusal_ = path + ": the local time " + local_text(row.local_seconds) + " is " +
               (utc.fit == LocalTimeConverter::Fit::ambiguous ? "ambiguous" : "skipped") + " in " + clock_->zone() +
               " (a daylight-saving change) and the rows carry no UTC offset; --tz ±HHMM reads them at one offset";
    return false;
  }
  if (utc.seconds < kEarliest || utc.seconds > options_.now + kAheadLimit) {
    refusal_ = path + ": a row is dated " + utc_text(utc.seconds) +
               (utc.seconds < kEarliest ? ", before 2000" : ", more than a day ahead");
    return false;
  }
  bool round = false;
  for (const RowSample& sample : row.samples) {
    add_sample(sample, utc.seconds);
    round = round || export_families()[sample.family].round;
  }
  if (round && (round_times_.empty() || round_times_.back() != utc.seconds)) round_times_.push_back(utc.seconds);
  return true;
}

void Exporter::add_sample(const RowSample& sample, std::int64_t seconds) {
  key_.assign(reinterpret_cast<const char*>(&sample.family), sizeof sample.family);
  key_ += sample.labels;
  auto [at, fresh] = index_.try_emplace(key_, series_.size());
  if (fresh) series_.push_back(Series{sample.family, sample.labels, {}});
  series_[at->second].points.push_back(Point{seconds, sample.value});
}

// Time order, one sample per time: a repeat of the same value is dropped and
// counted; two different values at one time cannot both be true.
bool Exporter::settle_series(Series& series) {
  auto& points = series.points;
  std::stable_sort(points.begin(), points.end(), [](const Point& a, const Point& b) { return a.seconds < b.seconds; });
  std::size_t kept = 0;
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (kept > 0 && points[kept - 1].seconds == points[i].seconds) {
      if (points[kept - 1].value != points[i].value) {
        refusal_ = "two different values of " + std::string(export_families()[series.family].name) + "{" +
                   series.labels + "} at " + utc_text(points[i].seconds);
        return false;
      }
      ++counts_.duplicates;
      continue;
    }
    points[kept++] = points[i];
  }
  points.resize(kept);
  counts_.samples += kept;
  return true;
}

bool Exporter::flush(ExportOutput& out, bool always) {
  if (!always && text_.size() < kFlushSize) return true;
  const bool ok = out.write(text_);
  text_.clear();
  return ok;
}

bool Exporter::write_family(std::size_t family, const std::vector<std::size_t>& members, ExportOutput& out) {
  const MetricFamily& meta = export_families()[family];
  const std::string session = session_labels(facts_.serial, source_.name());
  append_family_header(text_, meta);
  for (const std::size_t member : members) {
    const Series& series = series_[member];
    for (const Point& point : series.points) {
      append_sample(text_, meta, session, series.labels, point.value, point.seconds);
      if (!flush(out, false)) return false;
    }
  }
  return true;
}

bool Exporter::write(ExportOutput& out) {
  for (Series& series : series_) {
    if (!settle_series(series)) return false;
  }
  std::vector<std::size_t> order(series_.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return std::tie(series_[a].family, series_[a].labels) < std::tie(series_[b].family, series_[b].labels);
  });
  std::sort(round_times_.begin(), round_times_.end());
  round_times_.erase(std::unique(round_times_.begin(), round_times_.end()), round_times_.end());
  if (!round_times_.empty()) {
    const std::string info = "model=\"" + escape_label_value(facts_.model) + "\",firmware=\"" +
                             escape_label_value(facts_.firmware) + "\",storage=\"" +
                             escape_label_value(facts_.storage) + '"';
    Series facts{kSessionInfoFamily, info, {}};
    for (const std::int64_t seconds : round_times_) facts.points.push_back({seconds, 1});
    counts_.samples += facts.points.size();
    series_.push_back(std::move(facts));
    order.insert(order.begin(), series_.size() - 1);
  }
  counts_.series = series_.size();
  for (std::size_t begin = 0; begin < order.size();) {
    std::size_t end = begin;
    while (end < order.size() && series_[order[end]].family == series_[order[begin]].family) ++end;
    const std::vector<std::size_t> members(order.begin() + static_cast<std::ptrdiff_t>(begin),
                                           order.begin() + static_cast<std::ptrdiff_t>(end));
    if (!write_family(series_[order[begin]].family, members, out)) return false;
    begin = end;
  }
  text_ += kOpenMetricsEnd;
  return flush(out, true);
}

}  // namespace

bool export_session(SessionSource& source, const ExportOptions& options, ExportOutput& out, ExportCounts& counts,
                    std::string& refusal) {
  Exporter exporter(source, options, counts, refusal);
  if (!exporter.read_session()) return false;
  if (!exporter.write(out)) {
    if (refusal.empty()) refusal = "the export could not be written";
    return false;
  }
  return true;
}

}  // namespace trelvik
