#include "lib/collect/environment.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/unit/support/test_support.hpp"

namespace trelvik {
namespace {

// busybox top with no line of the test program (pid 1 is never it).
constexpr const char* kTop =
    "  PID  PPID USER     STAT   VSZ %VSZ %CPU COMMAND\n"
    "    1     0 root     S     5544  12%   3% init\n";

TEST(Environment, NoSensorsHeatersOrFansCreatesOnlyTheFolder) {
  test::DeviceRoot root;
  environment_settings() = EnvironmentSettings{};
  const auto folder = root.dir() / "monitoring_environment";
  store_temperatures_celsius(folder.c_str());
  store_heater_status(folder.c_str());
  store_fan_status(folder.c_str());
  EXPECT_TRUE(std::filesystem::is_directory(folder) && std::filesystem::is_empty(folder));
}

// Without its own line in "top" (a stand-in first on PATH) the daemon writes no row.
TEST(Environment, SelfMonitoringWithoutOwnLineWritesNothing) {
  test::DeviceRoot root;
  const std::string old_path = std::getenv("PATH");
  const auto bin = root.dir() / "fakebin";
  std::filesystem::create_directories(bin);
  test::write_file(root.dir() / "top.txt", kTop);
  test::write_file(bin / "top", "#!/bin/sh\ncat '" + (root.dir() / "top.txt").string() + "'\n");
  chmod((bin / "top").c_str(), 0755);
  setenv("PATH", (bin.string() + ":" + old_path).c_str(), 1);
  const auto folder = root.dir() / "monitoring_self";
  test::clear_log();
  store_self_monitoring(folder.c_str());
  setenv("PATH", old_path.c_str(), 1);
  EXPECT_TRUE(std::filesystem::is_empty(folder));
  EXPECT_TRUE(test::logged(LOG_DEBUG, "Did not find the correct pid.. " + std::to_string(getpid())));
  EXPECT_TRUE(test::logged(LOG_ERR, ", errno: None) Failed to get top for Trelvik"));
}

}  // namespace
}  // namespace trelvik
