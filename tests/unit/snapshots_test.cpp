#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <set>

#include "lib/dateutil.hpp"
#include "lib/interrupts.hpp"
#include "lib/onvif.hpp"
#include "tests/unit/support/test_support.hpp"

namespace trelvik {
namespace {

namespace fs = std::filesystem;

// A session folder name that no shell may read as code.
constexpr const char* kHostileSession = "/s/20261206_18_48_53 \"$(touch pwned)\" `touch pwned` $HOME \\";

std::vector<fs::path> entries(const fs::path& folder) {
  std::vector<fs::path> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(Snapshots, InterruptsOfTheHostAreCopiedTwiceUnderTheirOwnTimes) {
  test::DeviceRoot root;
  // The kernel's file reports a size of 0: the copy must read it, not trust stat.
  fs::create_directories(root.path("/proc"));
  fs::create_symlink("/proc/interrupts", root.path("/proc/interrupts"));
  const fs::path folder = root.path(std::string(kHostileSession) + "/system_monitoring/monitoring_interrupts");
  fs::create_directories(folder);

  const auto start = std::chrono::steady_clock::now();
  create_interrupts_snapshot(root.path(kHostileSession).c_str());
  const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(seconds, 2.9);

  const auto copies = entries(folder);
  ASSERT_EQ(copies.size(), 2u);
  const std::string host = test::read_file("/proc/interrupts");
  const std::string cpu_line = host.substr(0, host.find('\n') + 1);
  for (const auto& copy : copies) {
    EXPECT_TRUE(std::regex_match(copy.filename().string(), std::regex(R"(\d{8}_\d{6}_interrupts\.txt)")))
        << copy;
    const std::string text = test::read_file(copy);
    EXPECT_TRUE(text.starts_with(cpu_line)) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), std::count(host.begin(), host.end(), '\n'));
  }
  EXPECT_FALSE(fs::exists("pwned"));
  EXPECT_FALSE(fs::exists(root.path("/s/pwned")));
}

TEST(Snapshots, MissingInterruptsFileIsReportedForBothCopies) {
  test::DeviceRoot root;
  fs::create_directories(root.path("/s/system_monitoring/monitoring_interrupts"));
  test::clear_log();
  create_interrupts_snapshot(root.path("/s").c_str());
  // Ordinary paths give the plain command lines, byte for byte.
  const std::string copy = "cp " + root.path("/proc/interrupts").string() + " \"" + root.path("/s").string() +
                           "/system_monitoring/monitoring_interrupts/$(date +%Y%m%d_%H%M%S)_interrupts.txt\"";
  EXPECT_TRUE(test::logged(LOG_WARNING, "Exit status '1' for command: " + copy));
  EXPECT_TRUE(test::logged(LOG_WARNING, "Exit status '1' for command: sleep 3 && " + copy));
  EXPECT_TRUE(entries(root.path("/s/system_monitoring/monitoring_interrupts")).empty());
}

TEST(Snapshots, MediaConfigurationCopies) {
  test::DeviceRoot root;
  const fs::path folder = root.path(std::string(kHostileSession) + "/system_monitoring/monitoring_onvif");
  fs::create_directories(folder);

  // Absent configuration: one debug line, nothing copied.
  test::clear_log();
  onvif_copy_media_conf(root.path(kHostileSession).c_str());
  EXPECT_TRUE(test::logged(LOG_DEBUG, "'" + root.path("/etc/ws/onvif/media/media.conf").string() + "' is not a file."));
  EXPECT_TRUE(entries(folder).empty());

  root.write("/etc/ws/onvif/media/media.conf", "<media>\n  <profile name=\"default\"/>\n</media>\n");
  onvif_copy_media_conf(root.path(kHostileSession).c_str());
  const auto copies = entries(folder);
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_TRUE(std::regex_match(copies[0].filename().string(), std::regex(R"(\d{8}_\d{6}_media\.conf)")));
  EXPECT_EQ(test::read_file(copies[0]), root.read("/etc/ws/onvif/media/media.conf"));
}

TEST(Snapshots, MediaConfigurationNeverOverwritesACopy) {
  test::DeviceRoot root;
  const fs::path folder = root.path("/s/system_monitoring/monitoring_onvif");
  fs::create_directories(folder);
  root.write("/etc/ws/onvif/media/media.conf", "new\n");
  // Copies named for this second and the next already exist (a second copy
  // within the same second): whichever the call picks, it must keep them.
  std::set<std::string> names;
  for (int i = 0; i < 2; ++i) {
    char stamp[20] = {};
    date_format_now(stamp, sizeof stamp, "%Y%m%d_%H%M%S");
    names.insert(std::string(stamp) + "_media.conf");
  }
  const std::time_t later = std::time(nullptr) + 1;
  char next[20] = {};
  std::strftime(next, sizeof next, "%Y%m%d_%H%M%S", std::localtime(&later));
  names.insert(std::string(next) + "_media.conf");
  for (const auto& name : names) test::write_file(folder / name, "first\n");

  test::clear_log();
  onvif_copy_media_conf(root.path("/s").c_str());
  for (const auto& copy : entries(folder)) EXPECT_EQ(test::read_file(copy), "first\n") << copy;
  EXPECT_TRUE(test::logged(LOG_WARNING, "Could not copy '"));
}

}  // namespace
}  // namespace trelvik
