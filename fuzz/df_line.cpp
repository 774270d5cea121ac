// One line of df's output.
#include <cstddef>
#include <cstdint>

#include "fuzz/support/fuzz_support.hpp"
#include "lib/parse/tool_lines.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  (void)trelvik::df_line_use_pcent(trelvik::fuzz::text(data, size));
  return 0;
}
