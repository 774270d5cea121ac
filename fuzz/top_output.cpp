// top's batch output: the process line of a pid and its percentages; the
// first two bytes give the pid.
#include <cstddef>
#include <cstdint>

#include "fuzz/support/fuzz_support.hpp"
#include "lib/parse/tool_lines.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const long pid = data[0] * 256L + data[1];
  const auto lines = trelvik::fuzz::lines_of(trelvik::fuzz::text(data + 2, size - 2));
  if (const auto line = trelvik::find_top_line(lines, pid)) (void)trelvik::parse_top_percentages(*line);
  for (const auto& line : lines) (void)trelvik::parse_top_percentages(line);
  return 0;
}
