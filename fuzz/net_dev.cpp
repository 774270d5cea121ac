// The kernel's interface statistics (net/dev) and the rows made from them.
#include <cstddef>
#include <cstdint>

#include "fuzz/support/fuzz_support.hpp"
#include "lib/parse/net_dev.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto text = trelvik::fuzz::text(data, size);
  const auto parsed = trelvik::parse_proc_net_dev(text);
  (void)trelvik::net_dev_failure_text(parsed, text);
  for (const auto& [name, counters] : parsed.interfaces) {
    (void)trelvik::net_dev_header(counters);
    (void)trelvik::net_dev_row(counters, "2026-01-01,00:00:00");
  }
  return 0;
}
