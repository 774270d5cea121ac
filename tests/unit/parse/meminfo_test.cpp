#include "lib/parse/meminfo.hpp"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace trelvik {
namespace {

TEST(Meminfo, KeysValuesAndSkippedLines) {
  using Meminfo = std::vector<std::tuple<bool, std::string, std::string>>;
  Meminfo meminfo;
  for (const auto& line : parse_proc_meminfo("MemTotal:        1012508 kB\nHugePages_Total:       0\nno colon here\n"
                                             "Empty:\nActive(anon):  42 kB\nx/../y: 1 kB\nLong:" +
                                             std::string(260, ' ') + "5 kB\n")) {
    meminfo.emplace_back(line.skipped, line.text, line.value);
  }
  EXPECT_EQ(meminfo, (Meminfo{{false, "MemTotal", "1012508"},
                              {false, "HugePages_Total", "0"},
                              {true, "no colon here", ""},
                              {false, "Empty", ""},
                              {false, "Active(anon)", "42"},
                              {true, "x/../y: 1 kB", ""},
                              {false, "Long", ""},
                              {true, "          5 kB", ""}}));
}

}  // namespace
}  // namespace trelvik
