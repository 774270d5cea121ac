// The running processes as the package's sampler sees them: one scan of the
// process folders, and the top-like snapshot text built from two scans.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "lib/parse/proc_pid.hpp"
#include "lib/parse/proc_stat.hpp"

namespace trelvik {

// Every process of the process folder `dir` (ending in "/") whose stat line
// could be read, by process id. Processes that end during the scan are
// left out.
std::vector<PidStat> scan_processes(const std::string& dir);

// The command text of `process` (process_command); nullopt when the process
// has ended in between.
std::optional<std::string> read_process_command(const std::string& dir, const PidStat& process,
                                                std::size_t width);

// Resident size in kB from the kernel's page count.
std::uint64_t rss_kib(const PidStat& process);

// Successive top snapshots of one process folder (kernel files of the
// device root): the first takes a short baseline reading, each later one
// shows the CPU use since the one before, where "top -b -n 1" would show
// that of its own short pause.
class TopSnapshots {
 public:
  explicit TopSnapshots(std::string processes_dir);
  // The summary lines, the column header and the busiest processes, cut
  // after `max_lines` lines like "top -b -n 1 | head -n max_lines".
  std::string take(std::size_t max_lines);

 private:
  struct Busy {
    const PidStat* process;
    std::uint64_t ticks;  // CPU ticks since the previous reading
  };
  std::vector<Busy> busiest(const std::vector<PidStat>& processes);
  std::string process_row(const PidStat& process, unsigned percent_cpu, std::uint64_t mem_total_kib);
  const std::string& user_name(const PidStat& process);

  std::string dir_;
  bool have_baseline_ = false;
  CpuTimes previous_cpu_;
  std::unordered_map<int, std::uint64_t> previous_ticks_;
  std::unordered_map<unsigned, std::string> users_;
};

}  // namespace trelvik
