// The session collector's output as the status report reads it; every JSON
// text made from it must carry no raw control character.
#include <cstddef>
#include <cstdint>

#include <cstdlib>
#include "fuzz/support/fuzz_support.hpp"

#include "lib/parse/collector_output.hpp"
#include "lib/web/status_report.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  trelvik::CollectedSession fields;
  for (const auto& line : trelvik::fuzz::lines_of(trelvik::fuzz::text(data, size))) {
    if (!trelvik::status_apply_collector_line(fields, line)) continue;
    for (const unsigned char c : trelvik::status_session_json(fields)) {
      if (c < 0x20) std::abort();
    }
    fields = {};
  }
  return 0;
}
