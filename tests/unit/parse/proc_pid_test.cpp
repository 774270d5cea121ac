#include "lib/parse/proc_pid.hpp"

#include <gtest/gtest.h>

namespace trelvik {
namespace {

// A stat line as the kernel writes it, with the given name and figures.
std::string stat_line(const std::string& pid_and_name, char state, long nice, unsigned long long vsize_bytes,
                      unsigned long long rss_pages) {
  return pid_and_name + " " + state + " 1 100 100 0 -1 4194560 2010 0 3 0 123 45 0 0 20 " + std::to_string(nice) +
         " 1 0 9000 " + std::to_string(vsize_bytes) + " " + std::to_string(rss_pages) +
         " 18446744073709551615 1 1 0 0 0 0 0 0 2 0 0 17 1 0 0 0 0 0\n";
}

TEST(ProcPidParse, StatLines) {
  struct Case {
    std::string text;
    bool parsed;
    int pid;
    std::string comm;
    char state;
    std::uint64_t vsize_kib;
    long nice;
  };
  const Case cases[] = {
      {stat_line("812 (trelvik_daemon)", 'S', 0, 5320704, 310), true, 812, "trelvik_daemon", 'S', 5196, 0},
      // A name may hold blanks and parentheses: it ends at the last ")".
      {stat_line("77 (a) b (c)", 'R', -5, 4096, 1), true, 77, "a) b (c", 'R', 4, -5},
      // Kernel threads have no memory of their own.
      {stat_line("2 (kthreadd)", 'S', 0, 0, 0), true, 2, "kthreadd", 'S', 0, 0},
      {stat_line("9 (zombie)", 'Z', 19, 0, 0), true, 9, "zombie", 'Z', 0, 19},
      // A process that ended while it was read: an empty or cut file.
      {"", false, 0, "", '?', 0, 0},
      {"812 (trelvik_daemon) S 1 100 100 0 -1 4194560 2010 0 3", false, 0, "", '?', 0, 0},
      {"812 trelvik_daemon S 1", false, 0, "", '?', 0, 0},
      {"x12 (a) S" + stat_line("", 'S', 0, 0, 0).substr(3), false, 0, "", '?', 0, 0},
  };
  for (const Case& c : cases) {
    const std::optional<PidStat> stat = parse_pid_stat(c.text);
    ASSERT_EQ(stat.has_value(), c.parsed) << c.text;
    if (!stat) continue;
    EXPECT_EQ(stat->pid, c.pid);
    EXPECT_EQ(stat->comm, c.comm);
    EXPECT_EQ(stat->state, c.state);
    EXPECT_EQ(stat->ppid, 1);
    EXPECT_EQ(stat->ticks, 168u);  // user 123 + system 45
    EXPECT_EQ(stat->vsize_kib, c.vsize_kib) << c.text;
    EXPECT_EQ(stat->nice, c.nice);
  }
  EXPECT_EQ(parse_pid_stat(stat_line("5 (big)", 'S', 0, 1ull << 40, 262144))->rss_pages, 262144u);
}

TEST(ProcPidParse, StatusUidIsTheEffectiveOne) {
  EXPECT_EQ(parse_status_uid("Name:\tsh\nUid:\t1000\t0\t0\t0\nGid:\t0\t0\t0\t0\n"), 0u);
  EXPECT_EQ(parse_status_uid("Uid:\t0\t1001\t1001\t1001\n"), 1001u);
  EXPECT_FALSE(parse_status_uid("Name:\tsh\nGid:\t0\t0\t0\t0\n"));
  EXPECT_FALSE(parse_status_uid("Uid:\t0\n"));
  EXPECT_FALSE(parse_status_uid(""));
}

TEST(ProcPidParse, CommandAsPsShowsIt) {
  using namespace std::string_literals;
  struct Case {
    std::string cmdline;
    std::string comm;
    std::size_t width;
    std::string shown;
  };
  const Case cases[] = {
      {"/usr/local/packages/A/bin/worker\0a,b\0say \"hi\"\0"s, "worker", 100,
       "/usr/local/packages/A/bin/worker a,b say \"hi\""},
      // A script run by its interpreter carries the kernel's name in front.
      {"/bin/sh\0/usr/local/packages/Trelvik/shell/zeda_status_monitor.sh\0/x\0"s, "zeda_status_mon", 200,
       "{zeda_status_mon} /bin/sh /usr/local/packages/Trelvik/shell/zeda_status_monitor.sh /x"},
      // The kernel's name is cut at 15 bytes: a longer program name matches.
      {"/usr/bin/trelvik_eventlistener\0"s, "trelvik_eventli", 100, "/usr/bin/trelvik_eventlistener"},
      {"-sh\0"s, "sh", 100, "-sh"},
      // Kernel threads (and zombies) have no command line.
      {"", "kworker/0:1-events", 100, "[kworker/0:1-events]"},
      {"\0\0"s, "kthreadd", 100, "[kthreadd]"},
      // Control bytes would break the line; a rewritten argv keeps its blanks.
      {"python3\0a\nb\tc\0"s, "python3", 100, "python3 a b c"},
      // So would a line feed in the name a process gave itself.
      {"", "evil\nroot 1", 100, "[evil root 1]"},
      {"/bin/sh\0x\0"s, "a\nb", 100, "{a b} /bin/sh x"},
      {"nginx: worker process\0\0\0"s, "nginx", 100, "nginx: worker process"},
      {"/usr/bin/python3\0-m\0pytest\0"s, "python3", 12, "/usr/bin/pyt"},
      {"/bin/sh\0x\0"s, "long_name", 8, "{long_na"},
  };
  for (const Case& c : cases) EXPECT_EQ(process_command(c.cmdline, c.comm, c.width), c.shown) << c.shown;
}

TEST(ProcPidParse, TopVszColumnScalesLargeSizes) {
  const std::pair<std::uint64_t, const char*> cases[] = {
      {0, "      0"},       {99999, "  99999"},    {100000, "  97.6m"},   {163000, "   159m"},
      {1048576, "  1024m"}, {10485760, "  10.0g"}, {55154000, "  52.5g"}, {1517000000, "  1446g"},
  };
  for (const auto& [kib, column] : cases) EXPECT_EQ(top_vsz_column(kib), column) << kib;
}

}  // namespace
}  // namespace trelvik
