// The running processes as the package's sampler sees them: one scan of the
// process folders, and the top-like snapshot text built from two scans.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "lib/base/descriptor.hpp"
#include "lib/parse/proc_pid.hpp"
#include "lib/parse/proc_stat.hpp"

namespace trelvik {

// One process folder ("/proc/" or a device root's), open for the life of a
// sampler. Every read is one open and one or two reads of a small kernel
// file, as the samples read hundreds per second; a read fails (nullopt)
// when the process has ended in between.
class ProcessFolder {
 public:
  // With `keep_open`, scan() and cmdline() keep each process's file open
  // from one sample to the next and reread it in place: a third of the
  // kernel's work of opening it anew, for a sampler that reads every
  // process every few seconds.
  explicit ProcessFolder(std::string path, bool keep_open = false);
  ~ProcessFolder();
  ProcessFolder(const ProcessFolder&) = delete;
  ProcessFolder& operator=(const ProcessFolder&) = delete;

  // The ids of the processes there, ascending (the kernel's own order; a
  // crafted folder lists them in any order).
  std::vector<int> ids();
  // Every process whose stat line could be read, by id.
  std::vector<PidStat> scan();
  std::optional<PidStat> stat(int pid) const;
  // The raw command line (arguments ended by NULs).
  std::optional<std::string> cmdline(int pid);
  // The command text as ps shows it (process_command), at most `width` bytes.
  std::optional<std::string> command(const PidStat& process, std::size_t width);
  std::optional<unsigned> uid(int pid) const;

 private:
  enum Kept { kStat, kCmdline };
  bool read(int pid, const char* file, bool whole, std::string& text) const;
  bool reread(int pid, Kept file, std::string& text);
  void forget_ended(const std::vector<int>& listed);

  std::string path_;
  Descriptor fd_;
  bool keep_open_ = false;
  std::unordered_map<int, Descriptor> kept_[2];  // pid -> its open stat or cmdline file
};

// Resident size in kB from the kernel's page count.
std::uint64_t rss_kib(const PidStat& process);

// Successive top snapshots of one process folder (kernel files of the
// device root): the first takes a short baseline reading, each later one
// shows the CPU use since the one before, where "top -b -n 1" would show
// that of its own short pause.
class TopSnapshots {
 public:
  explicit TopSnapshots(const std::string& processes_dir);
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

  ProcessFolder processes_;
  bool have_baseline_ = false;
  CpuTimes previous_cpu_;
  std::unordered_map<int, std::uint64_t> previous_ticks_;
  std::unordered_map<unsigned, std::string> users_;
};

}  // namespace trelvik
