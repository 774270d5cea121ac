// The streaming service's stream list as dbus-send prints it.
#include <cstddef>
#include <cstdint>

#include "fuzz/support/fuzz_support.hpp"
#include "lib/parse/streams.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  (void)trelvik::stream_entries(trelvik::fuzz::text(data, size));
  return 0;
}
