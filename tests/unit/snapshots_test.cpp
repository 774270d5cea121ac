#include <gtest/gtest.h>

#include "lib/collect/interrupts.hpp"
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
  int warnings = 0;
  for (const auto& line : test::captured_log()) {
    warnings +=
        line.level == LOG_WARNING && line.text.starts_with("Could not copy '" + root.path("/proc/interrupts").string() +
                                                           "' to '" + folder.string() + "/");
  }
  EXPECT_EQ(warnings, 2);
  EXPECT_TRUE(fs::is_empty(folder));
}

}  // namespace
}  // namespace trelvik
