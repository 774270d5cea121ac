// The kernel's system-wide files as the sampler reads them every few seconds
// ("/proc/stat", "/proc/meminfo", "/proc/vmstat", "/proc/loadavg"): a kernel
// of another version, or a file cut while it was read, must never crash the
// sampler or make it read past the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz/support/fuzz_support.hpp"
#include "lib/parse/proc_stat.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto text = trelvik::fuzz::text(data, size);
  const auto values = trelvik::parse_name_values(text);
  for (const auto& [name, value] : values) {
    if (name.empty() || trelvik::value_of(values, name) != value) std::abort();
  }
  (void)trelvik::value_of(values, "MemAvailable");
  if (const auto cpu = trelvik::parse_cpu_times(text)) {
    if (cpu->fields > 8) std::abort();  // one count per field kept, eight at most
  }
  const auto loadavg = trelvik::loadavg_line(text);
  if (loadavg.find('\n') != std::string_view::npos || text.substr(0, loadavg.size()) != loadavg) std::abort();
  return 0;
}
