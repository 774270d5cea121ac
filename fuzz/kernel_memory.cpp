// The kernel's buddyinfo lines and vmstat lines.
#include <cstddef>
#include <cstdint>

#include "daemon/kernel_memory.hpp"
#include "fuzz/support/fuzz_support.hpp"
#include "lib/parse/kernel_memory.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  trelvik::BuddyInfo info;
  for (const auto& line : trelvik::fuzz::lines_of(trelvik::fuzz::text(data, size))) {
    trelvik::parse_buddyinfo_line(line, info);
    (void)trelvik::parse_vmstat_line(line, 20);
  }
  (void)trelvik::buddyinfo_header(info.highestfield);
  (void)trelvik::buddyinfo_rows(info, "2026-01-01,00:00:00");
  return 0;
}
