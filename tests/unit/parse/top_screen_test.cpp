#include "lib/parse/top_screen.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace trelvik {
namespace {

PidStat process(int pid, int ppid, char state, long nice, std::uint64_t vsize_kib) {
  PidStat process;
  process.pid = pid;
  process.ppid = ppid;
  process.state = state;
  process.nice = nice;
  process.vsize_kib = vsize_kib;
  return process;
}

CpuTimes cpu(std::uint64_t user, std::uint64_t system, std::uint64_t idle, std::uint64_t iowait) {
  CpuTimes times;
  times.user = user;
  times.system = system;
  times.idle = idle;
  times.iowait = iowait;
  times.fields = 8;
  return times;
}

TEST(TopScreen, SummaryLinesCutAtTopsWidth) {
  const NameValues meminfo =
      parse_name_values("MemTotal: 1000000 kB\nMemFree: 400000 kB\nBuffers: 1000 kB\nCached: 2000 kB\nShmem: 300 kB\n");
  EXPECT_EQ(top_memory_line(meminfo), "Mem: 600000K used, 400000K free, 300K shrd, 1000K buff, 2000K cached");
  // More free than total (a torn reading) shows nothing used; huge figures are cut at 79 bytes.
  EXPECT_EQ(top_memory_line(parse_name_values("MemTotal: 1 kB\nMemFree: 2 kB\n")),
            "Mem: 0K used, 2K free, 0K shrd, 0K buff, 0K cached");
  const std::string wide = top_memory_line(parse_name_values(
      "MemTotal: 18446744073709551615\nShmem: 18446744073709551615\nBuffers: 18446744073709551615\n"));
  EXPECT_EQ(wide, std::string("Mem: 18446744073709551615K used, 0K free, 18446744073709551615K shrd, 184467440"));

  const CpuTimes before = cpu(100, 0, 900, 0);
  const CpuTimes now = cpu(150, 10, 1030, 10);
  EXPECT_EQ(top_cpu_line(now, before), "CPU:  25% usr   5% sys   0% nic  65% idle   5% io   0% irq   0% sirq");
  // A counter that went back (a new boot) counts as no time at all.
  EXPECT_EQ(top_cpu_line(before, now), "CPU:   0% usr   0% sys   0% nic   0% idle   0% io   0% irq   0% sirq");

  EXPECT_EQ(top_load_line("0.52 0.58 0.59 1/175 4321\nrest\n"), "Load average: 0.52 0.58 0.59 1/175 4321");
  EXPECT_EQ(top_load_line(std::string(100, '9')).size(), 79u);
}

TEST(TopScreen, ProcessRowColumns) {
  const struct {
    PidStat stat;
    const char* user;
    unsigned percent_cpu;
    const char* columns;
  } cases[] = {
      {process(500, 1, 'R', 0, 200000), "4242", 7, "  500     1 4242     R     195m  20%   7% "},
      {process(2, 0, 'S', 0, 0), "root", 0, "    2     0 root     SW       0   0%   0% "},
      {process(9, 1, 'Z', -5, 0), "longusername", 0, "    9     1 longuser Z<       0   0%   0% "},
      {process(7, 1, 'S', 19, 3284), "www", 100, "    7     1 www      SN    3284   0% 100% "},
      {process(1234567, 7654321, 'S', 0, 1), "u", 0, "12345677654321 u        S        1   0%   0% "},
  };
  for (const auto& c : cases) {
    const std::string columns = top_row_columns(c.stat, c.user, c.percent_cpu, 1000000);
    EXPECT_EQ(columns, c.columns) << c.stat.pid;
    EXPECT_EQ(columns.size() + top_command_room(columns), 446u);
  }
  // No MemTotal: no share of it.
  EXPECT_EQ(top_row_columns(process(1, 0, 'S', 0, 10), "root", 0, 0), "    1     0 root     S       10   0%   0% ");
  EXPECT_EQ(top_command_room(std::string(500, ' ')), 0u);
}

TEST(TopScreen, PercentCpuAndScreenCut) {
  // 60 of the 100 busy ticks among 200 were the worker's: 30%.
  EXPECT_EQ(top_percent_cpu(60, 100, 100, 200), 30u);
  EXPECT_EQ(top_percent_cpu(1, 200, 100, 200), 0u);  // a quarter percent rounds down, a half up
  EXPECT_EQ(top_percent_cpu(2, 200, 100, 200), 1u);
  EXPECT_EQ(top_percent_cpu(5, 0, 0, 1), 0u);
  EXPECT_EQ(top_percent_cpu(5, 1ull << 32, 1, 1ull << 32), 0u);  // a divisor that wraps to 0

  const std::vector<std::string> lines = {"a", "b", "c"};
  EXPECT_EQ(top_screen_text(lines, 30), "a\nb\nc\n\n");  // top's own last line feed
  EXPECT_EQ(top_screen_text(lines, 4), "a\nb\nc\n\n");
  EXPECT_EQ(top_screen_text(lines, 3), "a\nb\nc\n");
  EXPECT_EQ(top_screen_text(lines, 1), "a\n");
  EXPECT_EQ(top_screen_text(lines, 0), "");
}

}  // namespace
}  // namespace trelvik
