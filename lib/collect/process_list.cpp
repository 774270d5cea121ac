#include "lib/collect/process_list.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <thread>

#include "lib/base/fileutil.hpp"
#include "lib/names/device_paths.hpp"
#include "lib/parse/top_screen.hpp"

namespace trelvik {
namespace {

// top -n 1 measures CPU use over this pause before its only screen.
constexpr auto kBaselinePause = std::chrono::milliseconds(100);

}  // namespace

ProcessFolder::ProcessFolder(std::string path, bool keep_open)
    : path_(std::move(path)), fd_(::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)), keep_open_(keep_open) {}

ProcessFolder::~ProcessFolder() = default;

std::vector<int> ProcessFolder::ids() {
  std::vector<int> ids;
  const DirHandle folder(::opendir(path_.c_str()));
  if (!folder) return ids;
  while (const dirent* entry = ::readdir(folder.get())) {
    int pid = 0;
    const std::string_view name = entry->d_name;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (error == std::errc() && end == name.data() + name.size()) ids.push_back(pid);
  }
  std::sort(ids.begin(), ids.end());
  forget_ended(ids);
  return ids;
}

std::vector<PidStat> ProcessFolder::scan() {
  std::vector<PidStat> processes;
  std::string text;
  for (const int pid : ids()) {
    std::optional<PidStat> process =
        keep_open_ ? (reread(pid, kStat, text) ? parse_pid_stat(text) : std::nullopt) : stat(pid);
    if (process) processes.push_back(std::move(*process));
  }
  return processes;
}

void ProcessFolder::forget_ended(const std::vector<int>& listed) {
  for (auto& kept : kept_) {
    std::erase_if(
        kept, [&listed](const auto& entry) { return !std::binary_search(listed.begin(), listed.end(), entry.first); });
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
    Descriptor fd(::openat(fd_.get(), relative, O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return false;
    kept = kept_[file].emplace(pid, std::move(fd)).first;
  }
  // The file stays bound to the process it was opened for: once that ends,
  // reads fail even if its id is reused.
  text.clear();
  char chunk[4096];
  ssize_t count;
  while ((count = ::pread(kept->second.get(), chunk, sizeof chunk, static_cast<off_t>(text.size()))) > 0) {
    text.append(chunk, static_cast<std::size_t>(count));
    if (file == kStat && static_cast<std::size_t>(count) < sizeof chunk) break;
  }
  if (count < 0) {
    kept_[file].erase(kept);
    return false;
  }
  return true;
}

bool ProcessFolder::read(int pid, const char* file, bool whole, std::string& text) const {
  char relative[48];
  std::snprintf(relative, sizeof relative, "%d/%s", pid, file);
  const Descriptor fd(::openat(fd_.get(), relative, O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return false;
  text.clear();
  char chunk[4096];
  ssize_t count;
  while ((count = ::read(fd.get(), chunk, sizeof chunk)) > 0) {
    text.append(chunk, static_cast<std::size_t>(count));
    // A one-record file (stat, status) comes whole in the first read.
    if (!whole && static_cast<std::size_t>(count) < sizeof chunk) break;
  }
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
  std::vector<std::string> lines = {top_memory_line(meminfo), top_cpu_line(cpu, previous_cpu_),
                                    top_load_line(read_or_empty(device::proc("loadavg"))), kTopHeader};
  const std::uint64_t busy_ticks = cpu.busy() > previous_cpu_.busy() ? cpu.busy() - previous_cpu_.busy() : 0;
  const std::uint64_t total_ticks =
      std::max<std::uint64_t>(cpu.total() > previous_cpu_.total() ? cpu.total() - previous_cpu_.total() : 0, 1);
  previous_cpu_ = cpu;
  const std::vector<Busy> busy = busiest(processes);
  // Processes that came and went between the readings show in the CPU line
  // only, so the sum is at least the busy ticks.
  std::uint64_t process_ticks = 0;
  for (const Busy& b : busy) process_ticks += b.ticks;
  process_ticks = std::max(process_ticks, busy_ticks);
  const std::uint64_t mem_total = meminfo_kib(meminfo, "MemTotal");
  for (const Busy& b : busy) {
    if (lines.size() >= max_lines) break;
    const unsigned percent_cpu = top_percent_cpu(b.ticks, process_ticks, busy_ticks, total_ticks);
    lines.push_back(process_row(*b.process, percent_cpu, mem_total));
  }
  return top_screen_text(lines, max_lines);
}

std::string TopSnapshots::process_row(const PidStat& process, unsigned percent_cpu, std::uint64_t mem_total_kib) {
  const std::string columns = top_row_columns(process, user_name(process), percent_cpu, mem_total_kib);
  const std::size_t room = top_command_room(columns);
  // A process that ended since the scan keeps its row, shown by its kernel name.
  return columns + processes_.command(process, room).value_or(process_command("", process.comm, room));
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
