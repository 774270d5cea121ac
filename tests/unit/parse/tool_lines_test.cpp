#include "lib/parse/tool_lines.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <utility>

namespace trelvik {
namespace {

TEST(DfLine, UsageIsReadBackwardsFromThePercentSign) {
  const std::pair<const char*, std::optional<int>> cases[] = {
      {"/dev/mmcblk0p1  1000000 890000 110000  89% /var/spool/storage/SD_DISK\n", 89},
      {"/dev/mmcblk0p1  1000000 900000 100000  90% /x\n", 90},
      {"/dev/mmcblk0p1  1000000 1000000 0 100% /x\n", 100},
      {"/dev/x 1 1 1 1089% /x\n", 89},       // four digits: the last three
      {"/dev/x 1 1 1 7% /x 55% more\n", 7},  // the first sign counts
      {"/dev/x 1 1 1 0% /x\n", 0},
      {"/dev/x 1 1 1 -% /x\n", 0},
      {"5% /x\n", 0},
      {"%\n", 0},
      {"12%\n", 2},  // never the line's first character
      {"/dev/x 1 1 1 no sign /x\n", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [line, pcent] : cases) EXPECT_EQ(df_line_use_pcent(line), pcent) << line;
}

TEST(DuLine, KibibytesOfTheLastLine) {
  const std::pair<const char*, std::uint64_t> du_lines[] = {
      {"100\t/var/spool/storage/SD_DISK/x\n", 102400},
      {"0\t/x\n", 0},
      {"-4\t/x\n", 0},
      {"du: cannot access '/x': No such file or directory\n", 0},
      {"", 0},
      {"8388608\n", 8589934592},
  };
  for (const auto& [line, bytes] : du_lines) EXPECT_EQ(parse_du_kib(line), bytes) << line;
}

TEST(UptimeLine, LoadAverages) {
  using Load = std::optional<std::array<std::string, 3>>;
  const std::pair<std::string, Load> loads[] = {
      {" 05:31:38 up 11 min,  0 users,  load average: 0.25, 0.19, 0.09\n", {{"0.25", "0.19", "0.09"}}},
      {"up 3 days,  load average:0.52,0.58,0.59", {{"0.52", "0.58", "0.59"}}},
      {"load average: \n", {{"", "", ""}}},
      {"load average: 1.00\n", {{"1.00", "1.00", "1.00"}}},
      {"load average: 1.00, 2.00\n", {{"1.00", "2.00", "1.00"}}},
      {"no load here\n", {}},
      {std::string(95, ' ') + "load average: 1, 2, 3\n", {}},  // cut after 99 characters
  };
  for (const auto& [line, want] : loads) {
    const auto load = parse_load_average(line);
    EXPECT_EQ(load ? Load({load->one, load->five, load->fifteen}) : std::nullopt, want) << line;
  }
}

// Cut or malformed files: the code, its own message, and nothing written.
}  // namespace
}  // namespace trelvik
