#include "lib/parse/series_tail.hpp"

#include <charconv>
#include <cmath>
#include <limits>

#include "lib/parse/text.hpp"

namespace trelvik {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::optional<int> number_at(std::string_view text, std::size_t at, std::size_t digits) {
  int value = 0;
  for (std::size_t i = at; i < at + digits; ++i) {
    if (!is_digit(text[i])) return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// Days from 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's
// days_from_civil).
std::int64_t days_from_civil(int year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const int era = (year >= 0 ? year : year - 399) / 400;
  const int year_of_era = year - era * 400;
  const int day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return static_cast<std::int64_t>(era) * 146097 + day_of_era - 719468;
}

double cell_value(std::string_view cell) {
  while (!cell.empty() && (cell.front() == ' ')) cell.remove_prefix(1);
  while (!cell.empty() && (cell.back() == ' ' || cell.back() == '\r')) cell.remove_suffix(1);
  double value = 0;
  const auto [end, error] = std::from_chars(cell.data(), cell.data() + cell.size(), value);
  if (error != std::errc{} || end != cell.data() + cell.size() || !std::isfinite(value)) return kNaN;
  return value;
}

std::optional<SeriesRow> parse_row(std::string_view line) {
  line = line_body(line);
  if (line.size() < 19) return std::nullopt;
  const std::optional<std::int64_t> seconds = series_time(line.substr(0, 19));
  if (!seconds) return std::nullopt;
  SeriesRow row{*seconds, {}};
  std::string_view rest = line.substr(19);
  while (!rest.empty() && rest.front() == ',') {
    rest.remove_prefix(1);
    const std::string_view cell = rest.substr(0, rest.find(','));
    row.values.push_back(cell_value(cell));
    rest.remove_prefix(cell.size());
  }
  return row;
}

}  // namespace

std::optional<std::int64_t> series_time(std::string_view text) {
  if (text.size() != 19 || text[4] != '-' || text[7] != '-' || (text[10] != ',' && text[10] != ' ') ||
      text[13] != ':' || text[16] != ':') {
    return std::nullopt;
  }
  const auto year = number_at(text, 0, 4), month = number_at(text, 5, 2), day = number_at(text, 8, 2);
  const auto hour = number_at(text, 11, 2), minute = number_at(text, 14, 2), second = number_at(text, 17, 2);
  if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
  if (*month < 1 || *month > 12 || *day < 1 || *day > 31 || *hour > 23 || *minute > 59 || *second > 60) {
    return std::nullopt;
  }
  return days_from_civil(*year, *month, *day) * 86400 + std::int64_t{*hour} * 3600 + std::int64_t{*minute} * 60 +
         *second;
}

std::vector<SeriesRow> parse_series_tail(std::string_view text, bool whole_file) {
  std::vector<SeriesRow> rows;
  bool first = true;
  for (const std::string_view line : split_lines(text)) {
    const bool torn_start = first && !whole_file;
    first = false;
    // The last line without its line feed may still be being written.
    if (torn_start || line.empty() || line.back() != '\n') continue;
    if (std::optional<SeriesRow> row = parse_row(line)) rows.push_back(std::move(*row));
  }
  return rows;
}

std::vector<SeriesRow> last_span(std::vector<SeriesRow> rows, std::int64_t span) {
  if (rows.empty()) return rows;
  const std::int64_t from = rows.back().seconds - span;
  std::size_t first = rows.size();
  while (first > 0 && rows[first - 1].seconds >= from) --first;
  rows.erase(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(first));
  return rows;
}

std::vector<double> counter_bit_rates(const std::vector<SeriesRow>& rows, std::size_t column) {
  std::vector<double> rates;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const SeriesRow& before = rows[i - 1];
    const SeriesRow& now = rows[i];
    const std::int64_t elapsed = now.seconds - before.seconds;
    if (column >= before.values.size() || column >= now.values.size() || elapsed <= 0) {
      rates.push_back(kNaN);
      continue;
    }
    const double grown = now.values[column] - before.values[column];
    rates.push_back(grown >= 0 ? grown * 8 / static_cast<double>(elapsed) : kNaN);
  }
  return rates;
}

std::optional<std::uint64_t> data_points_of(std::string_view information) {
  constexpr std::string_view kField = "Collected Data Points: ";
  for (const std::string_view line : split_lines(information)) {
    if (!line.starts_with(kField)) continue;
    std::string_view digits = line_body(line.substr(kField.size()));
    if (!digits.empty() && digits.back() == '\r') digits.remove_suffix(1);
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc{} || end != digits.data() + digits.size()) return std::nullopt;
    return value;
  }
  return std::nullopt;
}

}  // namespace trelvik
