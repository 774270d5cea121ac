#include <gtest/gtest.h>

#include "lib/interrupts.hpp"
#include "tests/unit/support/test_support.hpp"

namespace trelvik {
namespace {

namespace fs = std::filesystem;

TEST(Snapshots, MissingInterruptsFileIsReportedForBothCopies) {
  test::DeviceRoot root;
  const fs::path folder = root.path("/s/system_monitoring/monitoring_interrupts");
  fs::create_directories(folder);
  test::clear_log();
  create_interrupts_snapshot(root.path("/s").c_str());
  // Ordinary paths give the plain command lines, byte for byte.
  const std::string copy = "cp " + root.path("/proc/interrupts").string() + " \"" + folder.string() +
                           "/$(date +%Y%m%d_%H%M%S)_interrupts.txt\"";
  EXPECT_TRUE(test::logged(LOG_WARNING, "Exit status '1' for command: " + copy));
  EXPECT_TRUE(test::logged(LOG_WARNING, "Exit status '1' for command: sleep 3 && " + copy));
  EXPECT_TRUE(fs::is_empty(folder));
}

}  // namespace
}  // namespace trelvik
