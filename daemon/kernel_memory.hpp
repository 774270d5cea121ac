// Kernel memory snapshots of the daemon: page-fault counters from
// "/proc/vmstat" and the buddy allocator's free blocks from "/proc/buddyinfo",
// appended to the session's "monitoring_kernel" folder at every sampling round.
#pragma once

#include <string>
#include <string_view>

#include "lib/parse/kernel_memory.hpp"

namespace trelvik {

// "ZONE,DATE,TIME" and one ",<4 * 2^k> kB" column per order, "\n".
std::string buddyinfo_header(int highestfield);
// The five rows of one sample, each ending "\n".
std::string buddyinfo_rows(const BuddyInfo& info, std::string_view timestamp);

// The digits of the named "/proc/vmstat" counter (first line that contains
// `field`, as grep finds it); empty, and logged, when it cannot be read.
std::string vmstat_get_val(const char* field);

// Appends one row to "pagefaults.csv" / five rows to "buddyinfo.csv" below
// `session_path`; a file that cannot be opened is logged and skipped.
void create_pagefault_snapshot(const char* session_path);
void create_buddyinfo_snapshot(const char* session_path);

}  // namespace trelvik
