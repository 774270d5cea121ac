// The temperature controller's replies (temperatures, heaters, fans, counts);
// the first byte picks the reply kind and the item index.
#include <cstddef>
#include <cstdint>

#include "fuzz/support/fuzz_support.hpp"
#include "lib/parse/environment_replies.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const int selector = data[0];
  const auto lines = trelvik::fuzz::lines_of(trelvik::fuzz::text(data + 1, size - 1));
  const int index = selector >> 2;
  switch (selector & 3) {
    case 0:
      (void)trelvik::parse_temperature_reply(lines, index);
      break;
    case 1:
      (void)trelvik::parse_heater_reply(lines);
      break;
    case 2:
      (void)trelvik::parse_fan_reply(lines, index);
      break;
    default:
      if (!lines.empty()) (void)trelvik::parse_count_reply(lines.back());
      for (const auto& line : lines) (void)trelvik::quoted_string_value(line);
  }
  return 0;
}
