// Pure parsers of one process's kernel files ("/proc/<pid>/stat", "status"
// and "cmdline") and the command text that busybox ps and top show for it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace trelvik {

// The fields of "/proc/<pid>/stat" that the process lists use.
struct PidStat {
  int pid = 0;
  std::string comm;  // the kernel's name, at most 15 bytes, may hold blanks and parentheses
  char state = '?';
  int ppid = 0;
  long nice = 0;
  std::uint64_t ticks = 0;      // user and system time in clock ticks
  std::uint64_t vsize_kib = 0;  // virtual size (the kernel gives bytes)
  std::uint64_t rss_pages = 0;  // resident pages
};
// nullopt for text that is not a whole stat line (a process that ended while
// it was read leaves an empty or cut file).
std::optional<PidStat> parse_pid_stat(std::string_view text);

// The effective user id of the "Uid:" line of "/proc/<pid>/status".
std::optional<unsigned> parse_status_uid(std::string_view text);

// The command as busybox ps ("args") and top show it, in at most `width`
// bytes: the arguments of `cmdline` joined by blanks, control bytes as
// blanks, "{comm} " in front when the program's base name does not begin
// with the kernel's name (a script run through its interpreter, a renamed
// thread), and "[comm]" when the command line is empty (kernel threads).
std::string process_command(std::string_view cmdline, std::string_view comm, std::size_t width);

// The 7-column VSZ of busybox top: kB up to 99999, above in five characters
// with a unit letter (" 159m", "52.6g").
std::string top_vsz_column(std::uint64_t kib);

}  // namespace trelvik
