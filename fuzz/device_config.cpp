// The package's configuration file: the facts it gives are used as folder
// names and in commands, so a value that passes holds no control character
// and the serial number no slash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/support/fuzz_support.hpp"
#include "lib/parse/device_config.hpp"

namespace {

bool has_control(const std::string& value) {
  for (const unsigned char c : value) {
    if (c < 0x20 || c == 0x7f) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto facts = trelvik::parse_device_config(trelvik::fuzz::text(data, size));
  if (!facts) return 0;
  for (const std::string* value :
       {&facts->serial_number, &facts->model_name, &facts->firmware_version, &facts->full_name, &facts->api_user}) {
    if (has_control(*value)) std::abort();
  }
  if (facts->serial_number.empty() || facts->serial_number.find('/') != std::string::npos) std::abort();
  return 0;
}
