// uptime's first line.
#include <cstddef>
#include <cstdint>

#include "fuzz/support/fuzz_support.hpp"
#include "lib/parse/tool_lines.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  (void)trelvik::parse_load_average(trelvik::fuzz::text(data, size));
  return 0;
}
