// du's last line.
#include <cstddef>
#include <cstdint>

#include <string>
#include "fuzz/support/fuzz_support.hpp"

#include "lib/parse/tool_lines.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  (void)trelvik::parse_du_kib(std::string(trelvik::fuzz::text(data, size)));
  return 0;
}
