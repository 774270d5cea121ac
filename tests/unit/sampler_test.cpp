#include "lib/collect/sampler.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <vector>

#include "lib/collect/process_list.hpp"
#include "lib/names/device_paths.hpp"
#include "tests/unit/support/test_support.hpp"

namespace trelvik {
namespace {

using namespace std::string_literals;
namespace fs = std::filesystem;

struct Process {
  int pid, ppid;
  std::string comm;
  char state;
  unsigned long long ticks, vsize_kib, rss_pages;
  std::string cmdline;  // "-" for none: the process ended between the scan and this read
  int uid;              // -1: no status file
};

void lay_out(const test::DeviceRoot& root, const Process& p) {
  const std::string dir = "/proc/" + std::to_string(p.pid) + "/";
  root.write(dir + "stat", std::to_string(p.pid) + " (" + p.comm + ") " + p.state + " " + std::to_string(p.ppid) +
                               " 1 1 0 -1 0 0 0 0 0 " + std::to_string(p.ticks) + " 0 0 0 20 0 1 0 100 " +
                               std::to_string(p.vsize_kib * 1024) + " " + std::to_string(p.rss_pages) + " 0\n");
  if (p.cmdline != "-") root.write(dir + "cmdline", p.cmdline);
  if (p.uid >= 0) root.write(dir + "status", "Name:\t" + p.comm + "\nUid:\t0\t" + std::to_string(p.uid) + "\t0\t0\n");
}

// A small device: six processes of every kind and three installed packages.
void lay_out_device(const test::DeviceRoot& root, unsigned long long busy_ticks, unsigned long long idle_ticks,
                    unsigned long long worker_ticks) {
  root.write("/proc/stat", "cpu  " + std::to_string(busy_ticks) + " 0 0 " + std::to_string(idle_ticks) +
                               " 0 0 0 0 0 0\nintr 1\nctxt 2\nprocs_running 1\nprocs_blocked 0\n");
  root.write("/proc/meminfo",
             "MemTotal: 1000000 kB\nMemFree: 400000 kB\nBuffers: 1000 kB\nCached: 2000 kB\n"
             "Shmem: 300 kB\n");
  root.write("/proc/loadavg", "0.52 0.58 0.59 1/175 4321\n");
  const Process processes[] = {
      {1, 0, "init", 'S', 50, 2048, 100, "/sbin/init\0"s, 0},
      {2, 0, "kthreadd", 'S', 0, 0, 0, "", 0},
      {300, 1, "worker", 'S', worker_ticks, 3284, 506, "/usr/local/packages/OtherApp/bin/worker\0a,b\0say \"hi\"\0"s,
       0},
      {301, 1, "gone", 'S', 500, 1000, 10, "-", -1},
      {400, 1, "trelvik_sampler", 'S', 0, 5000, 300,
       "/usr/local/packages/Trelvik/trelvik_sampler\0/usr/local/packages/Trelvik/shell/zeda_status_monitor.sh\0/o\0"s,
       0},
      {500, 1, "big", 'R', 0, 200000, 1000, "/usr/bin/big\0"s, 4242},
  };
  for (const Process& p : processes) lay_out(root, p);
  for (const char* package : {"OtherApp", "Trelvik", "Idle"})
    fs::create_directories(root.path("/usr/local/packages/") / package);
}

std::string undated(const std::string& text) {
  return std::regex_replace(text, std::regex(R"(\d{4}-\d\d-\d\d,\d\d:\d\d:\d\d)"), "D,T");
}

TEST(Sampler, TopSnapshotsShowCpuUseSinceThePreviousOne) {
  test::DeviceRoot root;
  lay_out_device(root, 1000, 9000, 100);
  TopSnapshots top(root.path("/proc/").string());
  const std::string header =
      "Mem: 600000K used, 400000K free, 300K shrd, 1000K buff, 2000K cached\n"
      "CPU:%s\n"
      "Load average: 0.52 0.58 0.59 1/175 4321\n"
      "  PID  PPID USER     STAT   VSZ %VSZ %CPU COMMAND\n";
  const auto expect = [&](const std::string& cpu, const std::string& rows) {
    return std::regex_replace(header, std::regex("%s"), cpu) + rows;
  };
  // Nothing moved during the baseline pause: processes by size.
  EXPECT_EQ(top.take(30), expect("   0% usr   0% sys   0% nic   0% idle   0% io   0% irq   0% sirq",
                                 "  500     1 4242     R     195m  20%   0% /usr/bin/big\n"
                                 "  400     1 root     S     5000   0%   0% /usr/local/packages/Trelvik/trelvik_sampler"
                                 " /usr/local/packages/Trelvik/shell/zeda_status_monitor.sh /o\n"
                                 "  300     1 root     S     3284   0%   0% /usr/local/packages/OtherApp/bin/worker"
                                 " a,b say \"hi\"\n"
                                 "    1     0 root     S     2048   0%   0% /sbin/init\n"
                                 "  301     1 root     S     1000   0%   0% [gone]\n"
                                 "    2     0 root     SW       0   0%   0% [kthreadd]\n"
                                 "\n"));
  // 200 ticks later, half of them busy, 60 of them the worker's; the init
  // process ended and pid 301 was reused by a process younger than the reading.
  lay_out_device(root, 1100, 9100, 160);
  fs::remove_all(root.path("/proc/1"));
  lay_out(root, {301, 1, "young", 'S', 40, 1000, 10, "/bin/young\0"s, 0});
  const std::string second = top.take(6);
  EXPECT_EQ(second, expect("  50% usr   0% sys   0% nic  50% idle   0% io   0% irq   0% sirq",
                           "  300     1 root     S     3284   0%  30% /usr/local/packages/OtherApp/bin/worker"
                           " a,b say \"hi\"\n"
                           "  301     1 root     S     1000   0%  20% /bin/young\n"));
}

TEST(Sampler, ZedaRowsPerPackageProcessAndPerPackage) {
  test::DeviceRoot root;
  lay_out_device(root, 1000, 9000, 100);
  const fs::path out = root.path("/out");
  fs::create_directories(out);
  ASSERT_EQ(run_sampler(SamplerJob::ZedaStatus, out.string(), 2, 0), 0);
  const std::string processes =
      "D,T,Trelvik,400,5000,1200,/usr/local/packages/Trelvik/trelvik_sampler"
      " /usr/local/packages/Trelvik/shell/zeda_status_monitor.sh /o\n"
      "D,T,OtherApp,300,3284,2024,/usr/local/packages/OtherApp/bin/worker a;b say \"hi\"\n";
  const std::string memory = "D,T,Idle,0,0,0\nD,T,OtherApp,1,3284,2024\nD,T,Trelvik,1,5000,1200\n";
  std::string expected_processes = "Date,Time,Package,PID,VSZ_kB,RSS_kB,Command\n";
  std::string expected_memory = "Date,Time,Package,Processes,VSZ_kB,RSS_kB\n";
  for (int i = 0; i < 2; ++i) {
    expected_processes += processes;
    expected_memory += memory;
  }
  // The scan's order is the folder's: compare the process rows sorted.
  const auto sorted_lines = [](const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size(); at = text.find('\n', at) + 1) {
      lines.push_back(text.substr(at, text.find('\n', at) - at));
    }
    std::sort(lines.begin(), lines.end());
    return lines;
  };
  EXPECT_EQ(sorted_lines(undated(root.read("/out/zeda_processes.csv"))), sorted_lines(expected_processes));
  EXPECT_EQ(undated(root.read("/out/zeda_memory.csv")), expected_memory);
}

TEST(Sampler, EndsWithStatusOneWhenItsFolderIsGone) {
  test::DeviceRoot root;
  lay_out_device(root, 1000, 9000, 100);
  for (const SamplerJob job : {SamplerJob::VmStatus, SamplerJob::TopStatus, SamplerJob::ZedaStatus}) {
    EXPECT_EQ(run_sampler(job, root.path("/missing").string(), 2, 0), 1);
  }
  // No reading at all: the power job writes nothing and succeeds.
  EXPECT_EQ(run_sampler(SamplerJob::Power, root.path("/missing").string(), 2, 0), 0);
  // The header comes before the first sample, even for none.
  fs::create_directories(root.path("/out"));
  EXPECT_EQ(run_sampler(SamplerJob::VmStatus, root.path("/out").string(), 0, 0), 0);
  EXPECT_EQ(root.read("/out/vmstat.csv").find("Date,Time,procs_running,"), 0u);
}

TEST(Sampler, JobsByScriptName) {
  EXPECT_EQ(sampler_job_of("/usr/local/packages/Trelvik/shell/vmstatus_monitoring.sh"), SamplerJob::VmStatus);
  EXPECT_EQ(sampler_job_of("topstatus_monitoring.sh"), SamplerJob::TopStatus);
  EXPECT_EQ(sampler_job_of("./zeda_status_monitor.sh"), SamplerJob::ZedaStatus);
  EXPECT_EQ(sampler_job_of("/x/power.sh"), SamplerJob::Power);
  EXPECT_FALSE(sampler_job_of("/x/power.sh/"));
  EXPECT_FALSE(sampler_job_of("/x/monitory_creator.sh"));
  EXPECT_FALSE(sampler_job_of(""));
}

}  // namespace
}  // namespace trelvik

namespace trelvik {
namespace {

TEST(Sampler, ProcessesOfTheRootOnlyWhenItHoldsProcessFolders) {
  test::DeviceRoot root;
  root.write("/proc/meminfo", "MemTotal: 1 kB\n");
  EXPECT_EQ(device::processes_dir(), "/proc/");  // the emulated root links the host's kernel files
  root.write("/proc/42/stat", "42 (x) S 1 1 1 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 1 4096 1 0\n");
  EXPECT_EQ(device::processes_dir(), root.path("/proc/").string());
  ProcessFolder folder(device::processes_dir(), true);
  EXPECT_EQ(folder.ids(), std::vector<int>{42});
  ASSERT_EQ(folder.scan().size(), 1u);
  EXPECT_EQ(folder.cmdline(42), std::nullopt);  // no command line file: ended
}

}  // namespace
}  // namespace trelvik
