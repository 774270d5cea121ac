// The end of a session's CSV time series and its information file.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz/support/fuzz_support.hpp"
#include "lib/parse/series_tail.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto text = trelvik::fuzz::text(data, size);
  const auto rows = trelvik::last_span(trelvik::parse_series_tail(text, size % 2 == 0), 3600);
  for (std::size_t i = 1; i < rows.size(); ++i) {
    if (rows[i].seconds < rows.back().seconds - 3600) std::abort();
  }
  for (const double rate : trelvik::counter_bit_rates(rows, 0)) {
    if (rate < 0) std::abort();  // a reset is no rate, never a negative one
  }
  (void)trelvik::data_points_of(text);
  return 0;
}
