// The address and digit checks of the actions' and tools' arguments.
#include <cstddef>
#include <cstdint>

#include <string>
#include "fuzz/support/fuzz_support.hpp"

#include "lib/parse/validation.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string value(trelvik::fuzz::text(data, size));  // cut at a NUL, as a C string is
  (void)trelvik::validate_ipv4(value.c_str());
  (void)trelvik::validate_ipv6(value.c_str());
  (void)trelvik::validate_hostname(value.c_str());
  (void)trelvik::validate_address(value.c_str());
  (void)trelvik::validate_digits(value.c_str());
  return 0;
}
