// The text of busybox top's batch screen ("top -b -n 1"), built from the
// kernel's readings: the memory, CPU and load lines, the column header and
// one row per process, each cut where top's own line buffers end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "lib/parse/proc_pid.hpp"
#include "lib/parse/proc_stat.hpp"

namespace trelvik {

// The column header between the summary lines and the process rows.
inline constexpr const char* kTopHeader = "  PID  PPID USER     STAT   VSZ %VSZ %CPU COMMAND";

// A meminfo value in kB; 0 when missing or not a number.
std::uint64_t meminfo_kib(const NameValues& meminfo, std::string_view name);

// "Mem: ...K used, ...": from meminfo's MemTotal, MemFree, Shmem, Buffers and Cached.
std::string top_memory_line(const NameValues& meminfo);
// "CPU: ...% usr ...": each share of the ticks between two readings.
std::string top_cpu_line(const CpuTimes& now, const CpuTimes& before);
// "Load average: " and the first line of loadavg.
std::string top_load_line(std::string_view loadavg_text);

// The columns of a process row before its command (PID to %CPU and a
// blank); the command may fill top_command_room() bytes after them.
std::string top_row_columns(const PidStat& process, std::string_view user, unsigned percent_cpu,
                            std::uint64_t mem_total_kib);
std::size_t top_command_room(std::string_view columns);

// %CPU of a process that spent `ticks` of the `process_ticks` that all the
// listed processes spent, scaled to the busy share of the CPU's ticks
// between the readings, rounded.
unsigned top_percent_cpu(std::uint64_t ticks, std::uint64_t process_ticks, std::uint64_t busy_ticks,
                         std::uint64_t total_ticks);

// The screen: `lines` each ended by a line feed, an empty last line as top
// ends its screen with one, all cut after `max_lines` lines like
// "top -b -n 1 | head -n max_lines".
std::string top_screen_text(const std::vector<std::string>& lines, std::size_t max_lines);

}  // namespace trelvik
