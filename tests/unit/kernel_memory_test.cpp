#include "daemon/kernel_memory.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <tuple>

#include "tests/unit/support/test_support.hpp"

namespace trelvik {
namespace {

constexpr const char* kKernelDir = "/s/system_monitoring/monitoring_kernel";
const std::regex kStamp(R"(\d{4}-\d\d-\d\d,\d\d:\d\d:\d\d)");

std::string masked(const std::string& text) { return std::regex_replace(text, kStamp, "T"); }

// Two memory nodes, eleven block orders: an aarch64 board with two banks.
constexpr const char* kTwoNodes =
    "Node 0, zone      DMA      0      0      0      0      0      0      0      0      1      1      3 \n"
    "Node 0, zone    DMA32      5      4      4      2      2      3      3      1      1      2    753 \n"
    "Node 0, zone   Normal    422    310    123    135    273    545    358    243    153     88    102 \n"
    "Node 1, zone   Normal     10     20     30     40     50     60     70     80     90    100    110 \n"
    "Node 1, zone  Movable      7      7      7      7      7      7      7      7      7      7      7 \n";

// The snapshot of two nodes: DMA32's "32" is never a count, the second node
// replaces the first, Total sums every zone line but Movable.
TEST(KernelMemory, BuddyinfoSnapshotFile) {
  EXPECT_EQ(buddyinfo_header(0), "ZONE,DATE,TIME,4 kB\n");
  test::DeviceRoot root;
  root.write("/proc/buddyinfo", kTwoNodes);
  std::filesystem::create_directories(root.path(kKernelDir));
  const std::string session = root.path("/s").string();
  create_buddyinfo_snapshot(session.c_str());
  create_buddyinfo_snapshot(session.c_str());
  const std::string rows =
      "DMA,T,0,0,0,0,0,0,0,0,1,1,3\n"
      "DMA32,T,5,4,4,2,2,3,3,1,1,2,753\n"
      "Normal,T,10,20,30,40,50,60,70,80,90,100,110\n"
      "HighMem,T,0,0,0,0,0,0,0,0,0,0,0\n"
      "Total,T,437,334,157,177,325,608,431,324,245,191,968\n";
  const std::string file = std::string(kKernelDir) + "/buddyinfo.csv";
  const std::string expected =
      "ZONE,DATE,TIME,4 kB,8 kB,16 kB,32 kB,64 kB,128 kB,256 kB,512 kB,1024 kB,2048 kB,4096 kB\n" + rows + rows;
  EXPECT_EQ(masked(root.read(file)), expected);

  // Unreadable buddyinfo: nothing written, nothing logged.
  std::filesystem::remove(root.path("/proc/buddyinfo"));
  test::clear_log();
  create_buddyinfo_snapshot(session.c_str());
  EXPECT_TRUE(test::captured_log().empty());
  EXPECT_EQ(masked(root.read(file)), expected);
}

TEST(KernelMemory, PagefaultSnapshotFile) {
  test::DeviceRoot root;
  root.write("/proc/vmstat", "nr_free_pages 1000\npgfault 2611026\npgmajfault 1079\n");
  std::filesystem::create_directories(root.path(kKernelDir));
  const std::string session = root.path("/s").string();
  const std::string file = std::string(kKernelDir) + "/pagefaults.csv";
  create_pagefault_snapshot(session.c_str());
  create_pagefault_snapshot(session.c_str());
  EXPECT_EQ(masked(root.read(file)), "DATE,TIME,MINOR_FAULTS,MAJOR_FAULTS\nT,2611026,1079\nT,2611026,1079\n");
  EXPECT_TRUE(test::logged(LOG_DEBUG, "Getting vmstat val for pgmajfault"));

  // A counter grep cannot find leaves its field empty; the row is still written.
  root.write("/proc/vmstat", "pgfault 5\n");
  test::clear_log();
  create_pagefault_snapshot(session.c_str());
  EXPECT_TRUE(masked(root.read(file)).ends_with(",1079\nT,5,\n")) << root.read(file);
  const std::string command = "grep \"pgmajfault\" " + root.path("/proc/vmstat").string();
  EXPECT_TRUE(test::logged(LOG_ERR, "fgets returned null reading output of " + command));
}

TEST(KernelMemory, HostVmstatAndAMissingFolder) {
  test::DeviceRoot root;
  std::filesystem::create_directories(root.path("/proc"));
  std::filesystem::create_symlink("/proc/vmstat", root.path("/proc/vmstat"));
  std::filesystem::create_symlink("/proc/buddyinfo", root.path("/proc/buddyinfo"));
  EXPECT_TRUE(std::regex_match(vmstat_get_val("pgfault"), std::regex(R"(\d+)")));
  // A field is a grep pattern in double quotes, never a command.
  EXPECT_EQ(vmstat_get_val("$(touch pwned)`touch pwned`\"; touch pwned; \""), "");
  EXPECT_FALSE(std::filesystem::exists("pwned"));

  // No kernel folder (the session folder is gone): one error line, nothing else.
  test::clear_log();
  create_pagefault_snapshot(root.path("/gone").c_str());
  create_buddyinfo_snapshot(root.path("/gone").c_str());
  const std::string path = root.path("/gone").string() + "/system_monitoring/monitoring_kernel/";
  EXPECT_TRUE(test::logged(LOG_ERR, "Could not open file '" + path + "pagefaults.csv'"));
  EXPECT_TRUE(test::logged(LOG_ERR, "Could not open file '" + path + "buddyinfo.csv'"));
  EXPECT_FALSE(test::logged(LOG_DEBUG, "Getting vmstat val"));
}

}  // namespace
}  // namespace trelvik
