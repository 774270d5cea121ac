// The session state file, and the record written back from what it gave.
#include <cstddef>
#include <cstdint>

#include <string>
#include "fuzz/support/fuzz_support.hpp"

#include "lib/parse/state_file.hpp"
#include "lib/session/session_globals.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto session = trelvik::monitoring_session_parse(std::string(trelvik::fuzz::text(data, size)));
  (void)trelvik::monitoring_session_is_active(&session);
  (void)trelvik::monitoring_session_format(session);
  return 0;
}
