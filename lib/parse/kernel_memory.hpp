// Lines of the kernel's memory files: the buddy allocator's free blocks per
// zone (/proc/buddyinfo) and the counters of /proc/vmstat.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace trelvik {

inline constexpr int kBuddyZones = 5;    // DMA, DMA32, Normal, HighMem, Total
inline constexpr int kBuddyOrders = 16;  // block orders 0 to 15

// Free blocks per zone row and block order, and the highest order that got a
// count (0 when none did, so there is always one order column).
struct BuddyInfo {
  std::array<std::array<std::int64_t, kBuddyOrders>, kBuddyZones> pages{};
  int highestfield = 0;
};

// Adds one "/proc/buddyinfo" line (line feed kept) to `info`: the zone's row
// takes the line's counts, the Total row adds them. Other zones are ignored.
void parse_buddyinfo_line(std::string_view line, BuddyInfo& info);
// The digits after the first blank of a "/proc/vmstat" line, at most
// `max_digits` of them; none when the line has no blank.
std::optional<std::string> parse_vmstat_line(std::string_view line, std::size_t max_digits);
}  // namespace trelvik
