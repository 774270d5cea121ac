// The device's event stream, line by line, as the event listener reads it.
#include <cstddef>
#include <cstdint>

#include "fuzz/support/fuzz_support.hpp"
#include "lib/parse/event_lines.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  trelvik::eventlistener_Event event;
  for (const auto& line : trelvik::fuzz::lines_of(trelvik::fuzz::text(data, size))) {
    (void)trelvik::parse_event_line(line, event);
  }
  return 0;
}
