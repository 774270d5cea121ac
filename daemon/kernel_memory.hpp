// Kernel memory snapshots of the daemon: page-fault counters from
// "/proc/vmstat" and the buddy allocator's free blocks from "/proc/buddyinfo",
// appended to the session's "monitoring_kernel" folder at every sampling round.
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
// "ZONE,DATE,TIME" and one ",<4 * 2^k> kB" column per order, "\n".
std::string buddyinfo_header(int highestfield);
// The five rows of one sample, each ending "\n".
std::string buddyinfo_rows(const BuddyInfo& info, std::string_view timestamp);

// The digits after the first blank of a "/proc/vmstat" line, at most
// `max_digits` of them; none when the line has no blank.
std::optional<std::string> parse_vmstat_line(std::string_view line, std::size_t max_digits);
// The digits of the named "/proc/vmstat" counter (first line that contains
// `field`, as grep finds it); empty, and logged, when it cannot be read.
std::string vmstat_get_val(const char* field);

// Appends one row to "pagefaults.csv" / five rows to "buddyinfo.csv" below
// `session_path`; a file that cannot be opened is logged and skipped.
void create_pagefault_snapshot(const char* session_path);
void create_buddyinfo_snapshot(const char* session_path);

}  // namespace trelvik
