// Pure parsers of the kernel's system-wide text files that the sampler reads
// every few seconds: "/proc/stat", "/proc/meminfo", "/proc/vmstat" and
// "/proc/loadavg". They take the whole text and never fail: what is missing
// is simply absent from the result.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace trelvik {

// The first two fields of every line, split at blanks, tabs and colons, as
// the name and its value: meminfo's "MemFree:  500 kB" gives "MemFree" ->
// "500", vmstat's "pgfault 15" and stat's "intr 5000 0 1" their first number.
// A name seen twice keeps its last value; a line of one field is skipped.
using NameValues = std::map<std::string, std::string, std::less<>>;
NameValues parse_name_values(std::string_view text);
// The value of `name`, or "" when there is none.
std::string_view value_of(const NameValues& values, std::string_view name);

// The all-CPU line of "/proc/stat" in clock ticks. `fields` says how many of
// the eight the kernel gave (old kernels give four); the rest are 0.
struct CpuTimes {
  std::uint64_t user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
  int fields = 0;
  std::uint64_t total() const { return user + nice + system + idle + iowait + irq + softirq + steal; }
  // Everything but idle and waiting for I/O.
  std::uint64_t busy() const { return user + nice + system + irq + softirq + steal; }
};
// nullopt when the text has no "cpu " line.
std::optional<CpuTimes> parse_cpu_times(std::string_view stat_text);

// The first line of "/proc/loadavg" without its line feed.
std::string_view loadavg_line(std::string_view text);

}  // namespace trelvik
