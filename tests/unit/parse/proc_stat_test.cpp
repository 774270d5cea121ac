#include "lib/parse/proc_stat.hpp"

#include <gtest/gtest.h>

namespace trelvik {
namespace {

TEST(ProcStatParse, NameValuesOfTheThreeKernelTables) {
  const NameValues meminfo = parse_name_values(
      "MemTotal:        1012340 kB\nMemFree:          500 kB\nBuffers:\t20 kB\nSwapFree:              0 kB\n");
  EXPECT_EQ(value_of(meminfo, "MemTotal"), "1012340");
  EXPECT_EQ(value_of(meminfo, "MemFree"), "500");
  EXPECT_EQ(value_of(meminfo, "Buffers"), "20");  // a tab after the colon
  EXPECT_EQ(value_of(meminfo, "SwapFree"), "0");
  EXPECT_EQ(value_of(meminfo, "Cached"), "");  // missing: an empty field

  // stat's multi-number lines give their first number; vmstat's plain pairs.
  const NameValues stat =
      parse_name_values("cpu  10 1 20 300 4 0 0 0 0 0\nintr 5000 0 1\nctxt 7000\nprocs_running 2\nlonely\n\nctxt 7001");
  EXPECT_EQ(value_of(stat, "intr"), "5000");
  EXPECT_EQ(value_of(stat, "cpu"), "10");
  EXPECT_EQ(value_of(stat, "ctxt"), "7001");  // the last of two, even without a final line feed
  EXPECT_EQ(value_of(stat, "lonely"), "");
  EXPECT_EQ(value_of(parse_name_values("pgfault 15\r\npgmajfault 16\n"), "pgfault"), "15");
  EXPECT_TRUE(parse_name_values("").empty());
}

TEST(ProcStatParse, CpuTimes) {
  const std::optional<CpuTimes> full =
      parse_cpu_times("cpu  10 1 20 300 4 5 6 7 0 0\ncpu0 10 1 20 300 4 5 6 7 0 0\nintr 1\n");
  ASSERT_TRUE(full);
  EXPECT_EQ(full->fields, 8);
  EXPECT_EQ(full->user + full->nice + full->system + full->idle, 331u);
  EXPECT_EQ(full->total(), 353u);
  EXPECT_EQ(full->busy(), 353u - 300 - 4);

  // Old kernels give four figures; a damaged field ends the reading there.
  const std::optional<CpuTimes> old = parse_cpu_times("cpu 1 2 3 4\n");
  ASSERT_TRUE(old);
  EXPECT_EQ(old->fields, 4);
  EXPECT_EQ(old->iowait, 0u);
  const std::optional<CpuTimes> cut = parse_cpu_times("cpu 1 2 x3 4\n");
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->fields, 2);
  EXPECT_EQ(cut->system, 0u);

  EXPECT_FALSE(parse_cpu_times("cpu0 1 2 3 4\nintr 5\n"));  // only a per-CPU line
  EXPECT_FALSE(parse_cpu_times(""));
}

TEST(ProcStatParse, LoadavgLine) {
  EXPECT_EQ(loadavg_line("0.52 0.58 0.59 1/175 4321\n"), "0.52 0.58 0.59 1/175 4321");
  EXPECT_EQ(loadavg_line("0.52 0.58 0.59 1/175 4321"), "0.52 0.58 0.59 1/175 4321");
  EXPECT_EQ(loadavg_line(""), "");
}

}  // namespace
}  // namespace trelvik
