// The PTZ service's preset list, then the monitor's lines against it: the
// text before the first form feed is the list, each later line a monitor line.
#include <cstddef>
#include <cstdint>

#include <string_view>
#include "fuzz/support/fuzz_support.hpp"

#include "lib/device/ptz.hpp"
#include "lib/parse/ptz_replies.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view all = trelvik::fuzz::text(data, size);
  const std::size_t cut = all.find('\f');
  const std::string_view reply = all.substr(0, cut);
  const auto table = trelvik::parse_preset_reply(reply);
  if (cut == std::string_view::npos) return 0;
  for (const auto& line : trelvik::fuzz::lines_of(all.substr(cut + 1))) {
    (void)trelvik::parse_preset_status(line);
    if (table) (void)trelvik::preset_movement_text(*table, line);
  }
  return 0;
}
