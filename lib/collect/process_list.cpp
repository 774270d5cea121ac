#include "lib/collect/process_list.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <thread>

#include "lib/names/device_paths.hpp"
#include "lib/base/pipe.hpp"

namespace trelvik {
namespace {

// busybox top's line limits without a terminal: summary lines are built in
// an 80-byte buffer, process lines in a 448-byte one.
constexpr std::size_t kSummaryWidth = 79;
constexpr std::size_t kRowWidth = 446;
constexpr const char* kHeader = "  PID  PPID USER     STAT   VSZ %VSZ %CPU COMMAND";
// top -n 1 measures CPU use over this pause before its only screen.
constexpr auto kBaselinePause = std::chrono::milliseconds(100);

std::string read_or_empty(const std::string& path) {
  std::string text;
  read_text_file(path, text);
  return text;
}

std::string capped(std::string text, std::size_t width) {
  if (text.size() > width) text.resize(width);
  return text;
}

std::uint64_t kib_value(const NameValues& values, std::string_view name) {
  std::uint64_t value = 0;
  const std::string_view text = value_of(values, name);
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

std::string memory_line(const NameValues& meminfo) {
  const std::uint64_t total = kib_value(meminfo, "MemTotal"), free = kib_value(meminfo, "MemFree");
  char line[160];
  std::snprintf(line, sizeof line, "Mem: %lluK used, %lluK free, %lluK shrd, %lluK buff, %lluK cached",
                static_cast<unsigned long long>(total > free ? total - free : 0),
                static_cast<unsigned long long>(free),
                static_cast<unsigned long long>(kib_value(meminfo, "Shmem")),
                static_cast<unsigned long long>(kib_value(meminfo, "Buffers")),
                static_cast<unsigned long long>(kib_value(meminfo, "Cached")));
  return capped(line, kSummaryWidth);
}

std::string cpu_line(const CpuTimes& now, const CpuTimes& before) {
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

ProcessFolder::ProcessFolder(std::string path, bool keep_open)
    : path_(std::move(path)), fd_(::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)), keep_open_(keep_open) {}

ProcessFolder::~ProcessFolder() {
  for (const auto& kept : kept_) {
    for (const auto& [pid, fd] : kept) ::close(fd);
  }
}

std::vector<int> ProcessFolder::ids() {
  std::vector<int> ids;
  DIR* folder = ::opendir(path_.c_str());
  if (folder == nullptr) return ids;
  while (const dirent* entry = ::readdir(folder)) {
    int pid = 0;
    const std::string_view name = entry->d_name;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (error == std::errc() && end == name.data() + name.size()) ids.push_back(pid);
  }
  ::closedir(folder);
  std::sort(ids.begin(), ids.end());
  forget_ended(ids);
  return ids;
}

std::vector<PidStat> ProcessFolder::scan() {
  std::vector<PidStat> processes;
  std::string text;
  for (const int pid : ids()) {
    std::optional<PidStat> process = keep_open_ ? (reread(pid, kStat, text) ? parse_pid_stat(text) : std::nullopt)
                                                : stat(pid);
    if (process) processes.push_back(std::move(*process));
  }
  return processes;
}

void ProcessFolder::forget_ended(const std::vector<int>& listed) {
  for (auto& kept : kept_) {
    std::erase_if(kept, [&listed](const auto& entry) {
      if (std::binary_search(listed.begin(), listed.end(), entry.first)) return false;
      ::close(entry.second);
      return true;
    });
  }
}

bool ProcessFolder::reread(int pid, Kept file, std::string& text) {
  // Both kinds together stay well inside the usual limit of 1024 descriptors.
  constexpr std::size_t kMaxKept = 400;
  const char* name = file == kStat ? "stat" : "cmdline";
  auto kept = kept_[file].find(pid);
  if (kept == kept_[file].end()) {
    if (kept_[file].size() >= kMaxKept) return read(pid, name, file == kCmdline, text);
    char relative[32];
    std::snprintf(relative, sizeof relative, "%d/%s", pid, name);
    const int fd = ::openat(fd_.get(), relative, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    kept = kept_[file].emplace(pid, fd).first;
  }
  // The file stays bound to the process it was opened for: once that ends,
  // reads fail even if its id is reused.
  text.clear();
  char chunk[4096];
  ssize_t count;
  while ((count = ::pread(kept->second, chunk, sizeof chunk, static_cast<off_t>(text.size()))) > 0) {
    text.append(chunk, static_cast<std::size_t>(count));
    if (file == kStat && static_cast<std::size_t>(count) < sizeof chunk) break;
  }
  if (count < 0) {
    ::close(kept->second);
    kept_[file].erase(kept);
    return false;
  }
  return true;
}

bool ProcessFolder::read(int pid, const char* file, bool whole, std::string& text) const {
  char relative[48];
  std::snprintf(relative, sizeof relative, "%d/%s", pid, file);
  const int fd = ::openat(fd_.get(), relative, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  text.clear();
  char chunk[4096];
  ssize_t count;
  while ((count = ::read(fd, chunk, sizeof chunk)) > 0) {
    text.append(chunk, static_cast<std::size_t>(count));
    // A one-record file (stat, status) comes whole in the first read.
    if (!whole && static_cast<std::size_t>(count) < sizeof chunk) break;
  }
  ::close(fd);
  return count >= 0;
}

std::optional<PidStat> ProcessFolder::stat(int pid) const {
  std::string text;
  if (!read(pid, "stat", false, text)) return std::nullopt;
  return parse_pid_stat(text);
}

std::optional<std::string> ProcessFolder::cmdline(int pid) {
  std::string text;
  if (!(keep_open_ ? reread(pid, kCmdline, text) : read(pid, "cmdline", true, text))) return std::nullopt;
  return text;
}

std::optional<std::string> ProcessFolder::command(const PidStat& process, std::size_t width) {
  const std::optional<std::string> raw = cmdline(process.pid);
  if (!raw) return std::nullopt;
  return process_command(*raw, process.comm, width);
}

std::optional<unsigned> ProcessFolder::uid(int pid) const {
  std::string text;
  if (!read(pid, "status", false, text)) return std::nullopt;
  return parse_status_uid(text);
}

std::uint64_t rss_kib(const PidStat& process) {
  static const std::uint64_t page_kib = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE)) / 1024;
  return process.rss_pages * page_kib;
}

TopSnapshots::TopSnapshots(const std::string& processes_dir) : processes_(processes_dir, true) {}

std::vector<TopSnapshots::Busy> TopSnapshots::busiest(const std::vector<PidStat>& processes) {
  std::unordered_map<int, std::uint64_t> ticks;
  std::vector<Busy> busy;
  for (const PidStat& process : processes) {
    ticks.emplace(process.pid, process.ticks);
    const auto before = previous_ticks_.find(process.pid);
    // A process new since the last reading (or a reused id) spent all its time since.
    const bool seen = before != previous_ticks_.end() && before->second <= process.ticks;
    busy.push_back({&process, seen ? process.ticks - before->second : process.ticks});
  }
  previous_ticks_ = std::move(ticks);
  std::stable_sort(busy.begin(), busy.end(), [](const Busy& a, const Busy& b) {
    if (a.ticks != b.ticks) return a.ticks > b.ticks;
    if (a.process->vsize_kib != b.process->vsize_kib) return a.process->vsize_kib > b.process->vsize_kib;
    return a.process->ticks > b.process->ticks;
  });
  return busy;
}

std::string TopSnapshots::take(std::size_t max_lines) {
  if (!have_baseline_) {
    have_baseline_ = true;
    previous_cpu_ = parse_cpu_times(read_or_empty(device::proc("stat"))).value_or(CpuTimes{});
    busiest(processes_.scan());
    std::this_thread::sleep_for(kBaselinePause);
  }
  const CpuTimes cpu = parse_cpu_times(read_or_empty(device::proc("stat"))).value_or(CpuTimes{});
  const std::vector<PidStat> processes = processes_.scan();
  const NameValues meminfo = parse_name_values(read_or_empty(device::proc("meminfo")));
  std::vector<std::string> lines = {memory_line(meminfo), cpu_line(cpu, previous_cpu_),
                                    capped("Load average: " + std::string(loadavg_line(
                                               read_or_empty(device::proc("loadavg")))), kSummaryWidth),
                                    kHeader};
  const std::uint64_t busy_ticks = cpu.busy() > previous_cpu_.busy() ? cpu.busy() - previous_cpu_.busy() : 0;
  const std::uint64_t total_ticks =
      std::max<std::uint64_t>(cpu.total() > previous_cpu_.total() ? cpu.total() - previous_cpu_.total() : 0, 1);
  previous_cpu_ = cpu;
  const std::vector<Busy> busy = busiest(processes);
  // %CPU: a process's share of the listed processes' ticks, scaled to the
  // busy share of the CPU time. Processes that came and went between the
  // readings show in the CPU line only, so the sum is at least the busy ticks.
  std::uint64_t process_ticks = 0;
  for (const Busy& b : busy) process_ticks += b.ticks;
  process_ticks = std::max(process_ticks, busy_ticks);
  const std::uint64_t mem_total = kib_value(meminfo, "MemTotal");
  for (const Busy& b : busy) {
    if (lines.size() >= max_lines) break;
    const std::uint64_t scaled =
        process_ticks == 0 ? 0 : 200 * b.ticks * busy_ticks / (total_ticks * process_ticks);
    lines.push_back(process_row(*b.process, static_cast<unsigned>((scaled + 1) / 2), mem_total));
  }
  lines.emplace_back();  // top ends its screen with a line feed of its own
  std::string text;
  for (std::size_t i = 0; i < lines.size() && i < max_lines; ++i) text += lines[i] + "\n";
  return text;
}

std::string TopSnapshots::process_row(const PidStat& process, unsigned percent_cpu, std::uint64_t mem_total_kib) {
  const unsigned percent_vsz = percent_of_memory(process.vsize_kib, mem_total_kib);
  char columns[128];
  std::snprintf(columns, sizeof columns, "%5d%6d %-8.8s %s%s%4u%%%4u%% ", process.pid, process.ppid,
                user_name(process).c_str(), state_text(process).c_str(), top_vsz_column(process.vsize_kib).c_str(),
                percent_vsz, percent_cpu);
  const std::string row = columns;
  const std::size_t room = kRowWidth > row.size() ? kRowWidth - row.size() : 0;
  // A process that ended since the scan keeps its row, shown by its kernel name.
  return row + processes_.command(process, room).value_or(process_command("", process.comm, room));
}

const std::string& TopSnapshots::user_name(const PidStat& process) {
  const unsigned id = processes_.uid(process.pid).value_or(0);
  auto [entry, added] = users_.try_emplace(id);
  if (added) {
    passwd record{}, *found = nullptr;
    char buffer[1024];
    const bool named = ::getpwuid_r(id, &record, buffer, sizeof buffer, &found) == 0 && found != nullptr;
    entry->second = named ? record.pw_name : std::to_string(id);
  }
  return entry->second;
}

}  // namespace trelvik
