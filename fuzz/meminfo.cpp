// The kernel's memory counters (meminfo): every key the collector keeps names
// a file in the session folder, so it must never reach outside it.
#include <cstddef>
#include <cstdint>

#include <cstdlib>
#include "fuzz/support/fuzz_support.hpp"

#include "lib/parse/meminfo.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  for (const auto& line : trelvik::parse_proc_meminfo(trelvik::fuzz::text(data, size))) {
    if (line.skipped) continue;
    // The file is "<key>.csv": only a slash could lead out of the folder.
    if (line.text.find('/') != std::string::npos) std::abort();
  }
  return 0;
}
