#include "lib/parse/top_screen.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace trelvik {
namespace {

// busybox top's line limits without a terminal: summary lines are built in
// an 80-byte buffer, process lines in a 448-byte one.
constexpr std::size_t kSummaryWidth = 79;
constexpr std::size_t kRowWidth = 446;

std::string capped(std::string text, std::size_t width) {
  if (text.size() > width) text.resize(width);
  return text;
}

// busybox's state column: the kernel's letter, "W" without memory of its
// own (kernel threads), "<" or "N" for a raised or lowered priority.
std::string state_text(const PidStat& process) {
  std::string state(1, process.state);
  if (process.vsize_kib == 0 && process.state != 'Z') state += 'W';
  if (process.nice != 0) state += process.nice < 0 ? '<' : 'N';
  state.resize(3, ' ');
  return state;
}

// %VSZ in busybox top's fixed-point arithmetic (so that the column reads as
// top's did, rounding of very large sizes included).
unsigned percent_of_memory(std::uint64_t vsz_kib, std::uint64_t mem_total_kib) {
  if (mem_total_kib == 0) return 0;
  unsigned shift = 21;
  auto scale = static_cast<unsigned>(100ull * (1u << shift) / mem_total_kib);
  while (scale >= 512) {
    scale /= 4;
    shift -= 2;
  }
  const std::uint64_t half = (1u << shift) / 2;
  return static_cast<unsigned>((vsz_kib * scale + half) >> shift);
}

}  // namespace

std::uint64_t meminfo_kib(const NameValues& meminfo, std::string_view name) {
  std::uint64_t value = 0;
  const std::string_view text = value_of(meminfo, name);
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

std::string top_memory_line(const NameValues& meminfo) {
  const std::uint64_t total = meminfo_kib(meminfo, "MemTotal"), free = meminfo_kib(meminfo, "MemFree");
  char line[160];
  std::snprintf(line, sizeof line, "Mem: %lluK used, %lluK free, %lluK shrd, %lluK buff, %lluK cached",
                static_cast<unsigned long long>(total > free ? total - free : 0), static_cast<unsigned long long>(free),
                static_cast<unsigned long long>(meminfo_kib(meminfo, "Shmem")),
                static_cast<unsigned long long>(meminfo_kib(meminfo, "Buffers")),
                static_cast<unsigned long long>(meminfo_kib(meminfo, "Cached")));
  return capped(line, kSummaryWidth);
}

std::string top_cpu_line(const CpuTimes& now, const CpuTimes& before) {
  const auto delta = [](std::uint64_t a, std::uint64_t b) { return a > b ? a - b : 0; };
  const std::uint64_t total = std::max<std::uint64_t>(delta(now.total(), before.total()), 1);
  const auto percent = [&](std::uint64_t a, std::uint64_t b) {
    return static_cast<unsigned>(100 * delta(a, b) / total);
  };
  char line[160];
  std::snprintf(line, sizeof line, "CPU:%4u%% usr%4u%% sys%4u%% nic%4u%% idle%4u%% io%4u%% irq%4u%% sirq",
                percent(now.user, before.user), percent(now.system, before.system), percent(now.nice, before.nice),
                percent(now.idle, before.idle), percent(now.iowait, before.iowait), percent(now.irq, before.irq),
                percent(now.softirq, before.softirq));
  return capped(line, kSummaryWidth);
}

std::string top_load_line(std::string_view loadavg_text) {
  return capped("Load average: " + std::string(loadavg_line(loadavg_text)), kSummaryWidth);
}

std::string top_row_columns(const PidStat& process, std::string_view user, unsigned percent_cpu,
                            std::uint64_t mem_total_kib) {
  const unsigned percent_vsz = percent_of_memory(process.vsize_kib, mem_total_kib);
  const std::string name(user);
  char columns[128];
  std::snprintf(columns, sizeof columns, "%5d%6d %-8.8s %s%s%4u%%%4u%% ", process.pid, process.ppid, name.c_str(),
                state_text(process).c_str(), top_vsz_column(process.vsize_kib).c_str(), percent_vsz, percent_cpu);
  return columns;
}

std::size_t top_command_room(std::string_view columns) {
  return kRowWidth > columns.size() ? kRowWidth - columns.size() : 0;
}

unsigned top_percent_cpu(std::uint64_t ticks, std::uint64_t process_ticks, std::uint64_t busy_ticks,
                         std::uint64_t total_ticks) {
  // Readings of a crafted device root can make the divisor wrap to 0.
  const std::uint64_t divisor = total_ticks * process_ticks;
  const std::uint64_t scaled = divisor == 0 ? 0 : 200 * ticks * busy_ticks / divisor;
  return static_cast<unsigned>((scaled + 1) / 2);
}

std::string top_screen_text(const std::vector<std::string>& lines, std::size_t max_lines) {
  std::string text;
  for (std::size_t i = 0; i < lines.size() && i < max_lines; ++i) text += lines[i] + "\n";
  if (lines.size() < max_lines) text += "\n";
  return text;
}

}  // namespace trelvik
