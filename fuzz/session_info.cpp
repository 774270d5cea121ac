// The session folder's information file, rewritten by both field updaters,
// and the field that archive recovery reads.
#include <cstddef>
#include <cstdint>

#include <string>
#include "fuzz/support/fuzz_support.hpp"

#include "lib/parse/session_info.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(trelvik::fuzz::text(data, size));
  const std::string counted =
      trelvik::session_info_rewrite(text, "Collected Data Points", "1", trelvik::update_data_points);
  const std::string timed =
      trelvik::session_info_rewrite(counted, "Duration", "0 Days 0 hours 0 minutes", trelvik::update_duration);
  (void)trelvik::session_info_close(timed, "Tue Dec  8 05:20:00 UTC 2026");
  if (const auto serial = trelvik::session_info_field(text, "Serial Number")) {
    // A value never holds its line end.
    if (serial->find_first_of("\r\n") != std::string::npos) __builtin_trap();
  }
  return 0;
}
