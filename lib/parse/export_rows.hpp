// The session's CSV files as metric series: the one naming table of the
// export and of the live metrics, and the pure reader of one row. Names follow
// the Prometheus conventions (a "trelvik_" prefix, base units, "_total" on
// counters, the dimension in a label); columns that the collectors derive
// from others (rates, sums) are left out, and so is everything that changes
// per process (PIDs, command lines).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace trelvik {

enum class MetricType { gauge, counter };

struct MetricFamily {
  std::string_view name;  // the family's name; a counter's samples add "_total"
  MetricType type;
  std::string_view help;
  // Sampled at the daemon's rounds (not by the package scripts): the info
  // series is stamped at these rows' times.
  bool round;
};

// Every family in the order of the output, the session's facts first.
std::span<const MetricFamily> export_families();
inline constexpr std::size_t kSessionInfoFamily = 0;

// One value of one row: its family (an index into export_families()), the
// labels beside serial and session (`key="MemFree"`, escaped, possibly empty)
// and the value in the family's base unit.
struct RowSample {
  std::uint16_t family;
  std::string labels;
  double value;
};

// A row's date and time as written (local time, no zone), counted in seconds
// as if it were UTC; and its samples.
struct RowRead {
  std::int64_t local_seconds = 0;
  std::vector<RowSample> samples;
};

// How one file's rows become samples; made from the file's place in the
// session and its header line.
class RowReader {
 public:
  // One kind of file: the samples of a row's cells (all of them, date and
  // time included); false for cells it cannot read.
  using CellReader = bool (*)(const RowReader& file, std::span<const std::string_view> cells,
                              std::vector<RowSample>& out);

  RowReader(CellReader cells, std::size_t date_column, std::string name, std::vector<std::int16_t> columns);

  // Reads one data row (its line end, CR included, may still be there).
  // False for a row that cannot be read: a bad date, text among numbers, a
  // missing column, NUL bytes.
  bool read(std::string_view line, RowRead& out) const;

  // The labels that the file's name gives (`key="MemFree"`), possibly empty.
  const std::string& name_labels() const { return name_; }
  // Per value column after the date and time: its entry in the table of
  // columns, or -1 for one the export leaves out.
  const std::vector<std::int16_t>& columns() const { return columns_; }

 private:
  CellReader cells_;
  std::size_t date_column_;
  std::string name_;
  std::vector<std::int16_t> columns_;
};

// The reader for `path` ("system_monitoring/<folder>/<file>.csv", relative to
// the session folder) with its first line `header`, or nothing for a file that
// holds no series of the table (snapshots, derived files, unknown files).
std::optional<RowReader> session_row_reader(std::string_view path, std::string_view header);

// Whether a file at `path` can hold series of the table at all, before its
// header is read: the export passes over snapshots and the process list
// (most of a session's bytes) without reading them.
bool may_hold_series(std::string_view path);

// `value` escaped for a label value (backslash, quote, line feed).
std::string escape_label_value(std::string_view value);

// Seconds since 1970 of a proleptic Gregorian date and time taken as UTC;
// nothing for a date or time that does not exist ("2026-02-30", "24:00:00").
std::optional<std::int64_t> civil_seconds(int year, int month, int day, int hour, int minute, int second);

// The date and time cells "YYYY-MM-DD" and "HH:MM:SS" as civil_seconds.
std::optional<std::int64_t> parse_row_time(std::string_view date, std::string_view time);

}  // namespace trelvik
