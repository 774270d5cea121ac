#include "lib/parse/kernel_memory.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <vector>

namespace trelvik {
namespace {

TEST(KernelLines, BuddyinfoParsing) {
  const struct {
    const char* line;
    int zone;  // -1: not counted
    std::vector<std::int64_t> counts;
    int highest;
  } cases[] = {
      {"Node 0, zone   HighMem 1 2 3\n", 3, {1, 2, 3}, 2},
      // The last count is taken only when a character follows it.
      {"Node 0, zone   Normal 1 2 3", 2, {1, 2, 0}, 1},
      {"Node 0, zone   Normal\n", 2, {0}, 0},
      {"Node 0, zone   Normal 12345678901234 7\n", 2, {9'999'999'999, 7}, 1},
      {"Node 0, zone   Normal 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18\n",
       2,
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
       15},
      {"Node 0, zone  Movable 1 2 3\n", -1, {0}, 0},
  };
  for (const auto& c : cases) {
    BuddyInfo one;
    parse_buddyinfo_line(c.line, one);
    EXPECT_EQ(one.highestfield, c.highest) << c.line;
    const auto& total = one.pages[4];  // one line: the total is that zone's counts
    EXPECT_TRUE(std::equal(c.counts.begin(), c.counts.end(), total.begin())) << c.line;
    if (c.zone >= 0) {
      EXPECT_EQ(one.pages[static_cast<std::size_t>(c.zone)], total) << c.line;
    }
  }
}

TEST(KernelLines, VmstatLines) {
  const std::tuple<const char*, std::size_t, std::optional<std::string>> cases[] = {
      {"pgfault 2611026\n", 19, "2611026"},
      {"pgfault 2611026", 19, "2611026"},
      {"pgfault 12345678901234567890123\n", 19, "1234567890123456789"},
      {"pgfault 123\n", 2, "12"},
      {"pgfault x1\n", 19, ""},
      {"pgfault  7\n", 19, ""},
      {"pgfault\n", 19, std::nullopt},
      {"", 19, std::nullopt},
  };
  for (const auto& [line, max, digits] : cases) EXPECT_EQ(parse_vmstat_line(line, max), digits) << line;
}

}  // namespace
}  // namespace trelvik
