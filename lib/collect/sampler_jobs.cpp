#include "lib/collect/sampler_jobs.hpp"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "lib/base/dateutil.hpp"
#include "lib/base/fileutil.hpp"
#include "lib/base/pipe.hpp"
#include "lib/names/device_paths.hpp"
#include "lib/parse/proc_stat.hpp"
#include "lib/session/csv_file.hpp"

namespace trelvik {
namespace {

constexpr const char* kVmstatHeader =
    "Date,Time,procs_running,procs_blocked,MemFree_kB,Buffers_kB,Cached_kB,SwapFree_kB,"
    "pswpin,pswpout,pgpgin,pgpgout,pgfault,pgmajfault,intr,ctxt,"
    "cpu_user,cpu_nice,cpu_system,cpu_idle,cpu_iowait\n";
constexpr const char* kZedaProcessesHeader = "Date,Time,Package,PID,VSZ_kB,RSS_kB,Command\n";
constexpr const char* kZedaMemoryHeader = "Date,Time,Package,Processes,VSZ_kB,RSS_kB\n";
constexpr const char* kPowerHeader = "Date,Time,Source,Reading,Value,Unit\n";
// The whole list would make the snapshots grow by megabytes a day.
constexpr std::size_t kTopLines = 30;
// ps shows long command lines whole; this only bounds a runaway one.
constexpr std::size_t kCommandWidth = 4096;

// Appends `text` to `path`, `header` first into a new file.
bool append(const std::string& path, std::string_view header, std::string_view text) {
  CsvFile file(path);
  if (!file.is_open()) return false;
  if (file.is_new()) file.put(header);
  file.put(text);
  return file.close();
}

// A label inside a CSV row: its commas become semicolons.
std::string field(std::string text) {
  std::replace(text.begin(), text.end(), ',', ';');
  return text;
}

// The names of the folders in `dir`, in byte order (a shell glob's order
// without a locale).
std::vector<std::string> folder_names(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code error;
  for (std::filesystem::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
    std::error_code kind;
    if (std::filesystem::is_directory(it->path(), kind)) names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The first line of a kernel attribute without surrounding blanks; nullopt
// when it cannot be read or is empty.
std::optional<std::string> attribute(const std::string& path) {
  std::string text;
  if (!read_text_file(path, text)) return std::nullopt;
  text = text.substr(0, text.find('\n'));
  const std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return std::nullopt;
  return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

// "source,reading,value,unit" rows of one hardware monitor's channels of
// one kind ("in", "curr", "power"), in the order of their file names.
void hwmon_rows(const std::string& dir, const std::string& source, std::string_view kind, std::string_view unit,
                std::string& rows) {
  std::vector<std::string> channels;
  std::error_code error;
  for (std::filesystem::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.starts_with(kind) && name.ends_with("_input")) channels.push_back(name.substr(0, name.size() - 6));
  }
  std::sort(channels.begin(), channels.end());
  for (const std::string& channel : channels) {
    const std::optional<std::string> value = attribute(dir + channel + "_input");
    if (!value) continue;
    const std::string label = field(attribute(dir + channel + "_label").value_or(channel));
    rows += source + "," + label + "," + *value + "," + std::string(unit) + "\n";
  }
}

std::string power_rows() {
  std::string rows;
  const std::string hwmon = device::sys_class("hwmon/");
  for (const std::string& name : folder_names(hwmon)) {
    const std::string dir = hwmon + name + "/";
    const std::optional<std::string> chip = attribute(dir + "name");
    const std::string source = chip ? field(name + ":" + *chip) : name;
    hwmon_rows(dir, source, "in", "mV", rows);
    hwmon_rows(dir, source, "curr", "mA", rows);
    hwmon_rows(dir, source, "power", "uW", rows);
  }
  const std::string supplies = device::sys_class("power_supply/");
  for (const std::string& name : folder_names(supplies)) {
    for (const auto& [reading, unit] : {std::pair{"voltage_now", "uV"}, {"current_now", "uA"}, {"power_now", "uW"}}) {
      if (const std::optional<std::string> value = attribute(supplies + name + "/" + reading)) {
        rows += name + "," + reading + "," + *value + "," + unit + "\n";
      }
    }
  }
  return rows;
}

// Each of `rows` ("...\n") behind the sample's date and time.
std::string dated(const std::string& now, std::string_view rows) {
  std::string text;
  while (!rows.empty()) {
    const std::size_t end = rows.find('\n') + 1;
    text += now + "," + std::string(rows.substr(0, end));
    rows.remove_prefix(end);
  }
  return text;
}

}  // namespace

VmstatCollector::VmstatCollector(std::string folder) : folder_(std::move(folder)) {}

bool VmstatCollector::start() { return append(folder_ + "/vmstat.csv", kVmstatHeader, ""); }

bool VmstatCollector::sample() {
  std::string row = csv_timestamp();
  const std::string stat_text = read_or_empty(device::proc("stat"));
  const NameValues stat = parse_name_values(stat_text);
  const NameValues mem = parse_name_values(read_or_empty(device::proc("meminfo")));
  const NameValues vm = parse_name_values(read_or_empty(device::proc("vmstat")));
  const auto add = [&row](std::string_view value) { (row += ",") += value; };
  add(value_of(stat, "procs_running"));
  add(value_of(stat, "procs_blocked"));
  for (const char* name : {"MemFree", "Buffers", "Cached", "SwapFree"}) add(value_of(mem, name));
  for (const char* name : {"pswpin", "pswpout", "pgpgin", "pgpgout", "pgfault", "pgmajfault"}) add(value_of(vm, name));
  add(value_of(stat, "intr"));
  add(value_of(stat, "ctxt"));
  const CpuTimes cpu = parse_cpu_times(stat_text).value_or(CpuTimes{});
  const std::uint64_t times[] = {cpu.user, cpu.nice, cpu.system, cpu.idle, cpu.iowait};
  for (int i = 0; i < 5; ++i) add(i < cpu.fields ? std::to_string(times[i]) : "");
  return append(folder_ + "/vmstat.csv", kVmstatHeader, row + "\n");
}

TopCollector::TopCollector(std::string folder) : folder_(std::move(folder)), top_(device::processes_dir()) {}

bool TopCollector::sample() {
  char now[32] = {};
  date_format_now(now, sizeof now, "%Y-%m-%d %H:%M:%S");
  const std::string text = "=== " + std::string(now) + " ===\n" + top_.take(kTopLines);
  return append(folder_ + "/topstatus.txt", "", text);
}

ZedaCollector::ZedaCollector(std::string folder)
    : folder_(std::move(folder)), processes_(device::processes_dir(), true) {}

bool ZedaCollector::start() {
  return append(folder_ + "/zeda_processes.csv", kZedaProcessesHeader, "") &&
         append(folder_ + "/zeda_memory.csv", kZedaMemoryHeader, "");
}

bool ZedaCollector::sample() {
  const std::string now = csv_timestamp();
  const std::vector<std::string> packages = folder_names(device::packages_dir());
  if (packages.empty()) return true;
  struct Use {
    unsigned count = 0;
    std::uint64_t vsz = 0, rss = 0;
  };
  std::vector<Use> uses(packages.size());
  std::string rows;
  for (const int pid : processes_.ids()) {
    // Only a command line that names the packages' folder can match (kernel
    // threads have none): the other processes cost one read, not two.
    const std::optional<std::string> cmdline = processes_.cmdline(pid);
    if (!cmdline || cmdline->find(device::kPackagesDir) == std::string::npos) continue;
    const std::optional<PidStat> process = processes_.stat(pid);
    if (!process) continue;
    const std::string text = field(process_command(*cmdline, process->comm, kCommandWidth));
    for (std::size_t i = 0; i < packages.size(); ++i) {
      if (text.find(std::string(device::kPackagesDir) + packages[i] + "/") == std::string::npos) continue;
      const std::uint64_t rss = rss_kib(*process);
      rows += packages[i] + "," + std::to_string(pid) + "," + std::to_string(process->vsize_kib) + "," +
              std::to_string(rss) + "," + text + "\n";
      uses[i] = {uses[i].count + 1, uses[i].vsz + process->vsize_kib, uses[i].rss + rss};
      break;
    }
  }
  std::string memory;
  for (std::size_t i = 0; i < packages.size(); ++i) {
    memory += packages[i] + "," + std::to_string(uses[i].count) + "," + std::to_string(uses[i].vsz) + "," +
              std::to_string(uses[i].rss) + "\n";
  }
  return append(folder_ + "/zeda_processes.csv", kZedaProcessesHeader, dated(now, rows)) &&
         append(folder_ + "/zeda_memory.csv", kZedaMemoryHeader, dated(now, memory));
}

PowerCollector::PowerCollector(std::string folder) : folder_(std::move(folder)) {}

bool PowerCollector::sample() {
  const std::string now = csv_timestamp();
  const std::string rows = power_rows();
  if (rows.empty()) return true;  // a device without readings gets no file
  return append(folder_ + "/power.csv", kPowerHeader, dated(now, rows));
}

}  // namespace trelvik
