// The last part of a session's CSV time series, as the operator page's live
// charts take it: rows "YYYY-MM-DD,HH:MM:SS,<number>,..." read from the end of
// a file, the header and a row cut short by the read left out.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace trelvik {

// One row: its camera-local time as seconds of a zone-free count (the
// fields taken as if they were UTC; only differences and the fields
// themselves are used) and its numeric cells after the date and time. A cell
// that is not a number is NaN.
struct SeriesRow {
  std::int64_t seconds = 0;
  std::vector<double> values;
};

// The rows of `text`, which is the end of a file: unless `whole_file`, its
// first line may have been cut by the read and is skipped. Lines that do
// not begin with a date and time (the header, a torn line) are skipped.
std::vector<SeriesRow> parse_series_tail(std::string_view text, bool whole_file);

// The rows within `span` seconds of the last row's time, in file order.
std::vector<SeriesRow> last_span(std::vector<SeriesRow> rows, std::int64_t span);

// "YYYY-MM-DD,HH:MM:SS" (or with a blank between) as the zone-free seconds.
std::optional<std::int64_t> series_time(std::string_view text);

// Per-second rates of a byte counter column as bits per second, one per row
// after the first; a counter that went down (a reset) or a gap in time
// gives no rate (NaN).
std::vector<double> counter_bit_rates(const std::vector<SeriesRow>& rows, std::size_t column);

// The value of "Collected Data Points: N" in an information file's text.
std::optional<std::uint64_t> data_points_of(std::string_view information);

}  // namespace trelvik
