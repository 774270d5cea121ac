// The export's row reader over whole session files: the first line says
// which file of the table it is (its path) and the second is its header, the
// rest are rows. A row that reads must give finite values and label text that
// stays inside its quotes; the date must be one the calendar has.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/support/fuzz_support.hpp"
#include "lib/parse/export_rows.hpp"

namespace {

// Every quote inside a label value is escaped, so the quotes that are not
// pair up: an odd count would let a value end the label set.
bool quotes_balance(const std::string& labels) {
  std::size_t quotes = 0;
  for (std::size_t i = 0; i < labels.size(); ++i) {
    if (labels[i] == '\\') {
      ++i;
    } else if (labels[i] == '"') {
      ++quotes;
    } else if (labels[i] == '\n') {
      return false;
    }
  }
  return quotes % 2 == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> lines = trelvik::fuzz::lines_of(trelvik::fuzz::text(data, size));
  if (lines.size() < 2) return 0;
  std::string path = lines[0];
  if (!path.empty() && path.back() == '\n') path.pop_back();
  const auto reader = trelvik::session_row_reader(path, lines[1]);
  if (!reader) return 0;
  trelvik::RowRead row;
  for (std::size_t i = 2; i < lines.size(); ++i) {
    if (!reader->read(lines[i], row)) continue;
    // 0000-01-01 to 9999-12-31.
    if (row.local_seconds < -62167219200LL || row.local_seconds > 253402300799LL) std::abort();
    for (const trelvik::RowSample& sample : row.samples) {
      if (!std::isfinite(sample.value) || sample.family >= trelvik::export_families().size()) std::abort();
      if (!quotes_balance(sample.labels)) std::abort();
    }
  }
  return 0;
}
