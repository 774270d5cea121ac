// The device API's sensor name list: each name becomes a file name in the
// session folder, so it must never reach outside it.
#include <cstddef>
#include <cstdint>

#include <cstdlib>
#include "fuzz/support/fuzz_support.hpp"

#include "lib/parse/environment_replies.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  for (const auto& line : trelvik::fuzz::lines_of(trelvik::fuzz::text(data, size))) {
    const auto entry = trelvik::parse_sensor_name_line(line);
    if (!entry) continue;
    const std::string file = trelvik::sensor_file_name(entry->second);
    // The file is "<name>.csv": only a slash could lead out of the folder.
    if (file.find('/') != std::string::npos) std::abort();
  }
  return 0;
}
