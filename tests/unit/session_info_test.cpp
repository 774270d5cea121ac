#include <gtest/gtest.h>

#include <filesystem>

#include "lib/filehandler.hpp"
#include "lib/session.hpp"
#include "tests/unit/support/test_support.hpp"

namespace trelvik {
namespace {

const std::string kActivated =
    "Model Name: Q6135-LE\r\nSerial Number: ABC123\r\nFirmware version: 11.8\r\nEdge storage location: SD_DISK\r\n"
    "Start Time of the session: Sun Dec  6 18:48:53 UTC 2026\r\nStop Time of the session: Still active\r\n"
    "Collected Data Points: 0\r\n";

TEST(SessionInfo, UpdatesRewriteInPlaceOrAppend) {
  test::DeviceRoot root;
  const std::string folder = root.path("/s").string();
  std::filesystem::create_directories(folder);
  const auto info = root.path("/s/Session_Information.txt");
  test::write_file(info, kActivated);

  update_number_of_collected_data_points(folder.c_str());
  std::string expected = kActivated;
  expected.replace(expected.size() - 3, 3, "1\n");  // "0\r\n" becomes "1\n" in the same place
  EXPECT_EQ(test::read_file(info), expected);

  update_session_duration(folder.c_str());
  EXPECT_EQ(test::read_file(info), expected + "Duration: 0 Days 0 hours 0 minutes\n");
  update_session_duration(folder.c_str());
  EXPECT_EQ(test::read_file(info), expected + "Duration: 0 Days 0 hours 1 minutes\n");
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    EXPECT_EQ(entry.path().filename(), "Session_Information.txt");  // no temporary left behind
  }

  test::clear_log();
  std::filesystem::remove(info);
  update_session_duration(folder.c_str());
  EXPECT_FALSE(std::filesystem::exists(info));
  EXPECT_TRUE(test::logged(LOG_DEBUG, "Could not open file '"));
}

TEST(SessionInfo, FieldRulesAndValues) {
  EXPECT_EQ(update_duration("0 Days 23 hours 59 minutes\n"), "1 Days 0 hours 0 minutes");
  EXPECT_EQ(update_duration("0 Days 25 hours 70 minutes\n"), "1 Days 2 hours 11 minutes");
  EXPECT_EQ(update_duration("soon\n"), std::nullopt);
  EXPECT_EQ(update_data_points("abc\r\n"), "1");
  EXPECT_EQ(update_data_points(" 41\n"), "42");
  EXPECT_EQ(update_data_points("4294967295\n"), "0");

  // No blank after the colon, other letter case, a longer name: no match, so
  // the field is appended.
  EXPECT_EQ(session_info_rewrite("Collected Data Points:7\n", "Collected Data Points", "1", update_data_points),
            "Collected Data Points:7\nCollected Data Points: 1\n");
  EXPECT_EQ(session_info_rewrite("collected data points: 7\n", "Collected Data Points", "1", update_data_points),
            "collected data points: 7\nCollected Data Points: 1\n");
  EXPECT_EQ(session_info_rewrite("Durations: 1 Days 0 hours 0 minutes\n", "Duration", "0 Days 0 hours 0 minutes",
                                 update_duration),
            "Durations: 1 Days 0 hours 0 minutes\nDuration: 0 Days 0 hours 0 minutes\n");
  // An unreadable duration stays and a fresh one is appended.
  EXPECT_EQ(session_info_rewrite("Duration: x\n", "Duration", "0 Days 0 hours 0 minutes", update_duration),
            "Duration: x\nDuration: 0 Days 0 hours 0 minutes\n");
}

TEST(SessionInfo, CloseDropsStopAndSizeLinesThenAppendsStopTime) {
  const std::string text = "Model Name: Q\r\nStop Time of the session: Still active\r\nCollected Data Points: 5\n"
                           "Duration: 0 Days 0 hours 9 minutes\nSession Size: 1 KiB\r\n";
  EXPECT_EQ(session_info_close(text, "Mon Dec  7 10:00:00 UTC 2026"),
            "Model Name: Q\r\nCollected Data Points: 5\nDuration: 0 Days 0 hours 9 minutes\n"
            "Stop Time of the session: Mon Dec  7 10:00:00 UTC 2026\r\n");
}

TEST(SessionInfo, MonitoryDirRules) {
  test::DeviceRoot root;
  const auto make = [&](const std::string& absolute) {
    std::filesystem::create_directories(root.path(absolute));
    return root.path(absolute).string();
  };
  EXPECT_TRUE(is_monitory_dir(make("/var/spool/storage/SD_DISK/Trelvik_ABC123/20261206_18_48_53").c_str()));
  EXPECT_TRUE(is_monitory_dir(make("/usr/local/packages/Trelvik/localdata/20260000_24_60_60").c_str()));
  EXPECT_FALSE(is_monitory_dir(make("/var/spool/storage/SD_DISK/Trelvik_ABC123/2026120_18_48_53").c_str()));
  EXPECT_FALSE(is_monitory_dir(make("/var/spool/storage/SD_DISK/Trelvik_ABC123/202612066_18_48_53").c_str()));
  EXPECT_FALSE(is_monitory_dir(make("/var/spool/storage/SD_DISK/Other_ABC123/20261206_18_48_53").c_str()));
  EXPECT_FALSE(is_monitory_dir(make("/tmp/20261206_18_48_53").c_str()));
  EXPECT_FALSE(is_monitory_dir(make("/usr/local/packages/Trelvik/localdata/20261306_18_48_53").c_str()));
  EXPECT_FALSE(is_monitory_dir(make("/usr/local/packages/Trelvik/localdata/x/../20261206_18_48_53").c_str()));
  EXPECT_FALSE(is_monitory_dir(root.path("/usr/local/packages/Trelvik/localdata/20261206_18_48_54").c_str()));
  EXPECT_FALSE(is_monitory_dir(nullptr));
}

TEST(SessionInfo, ZipRefusals) {
  test::clear_log();
  EXPECT_EQ(zip_session("relative"), 1);
  EXPECT_TRUE(test::logged(LOG_WARNING, "Could not get basename of path: relative"));
  EXPECT_TRUE(test::logged(LOG_ERR, "Path to zip is not a directory: relative"));
  test::DeviceRoot root;
  EXPECT_EQ(zip_session(root.path("/missing").c_str()), 1);
  EXPECT_TRUE(test::logged(LOG_ERR, "Path to zip is not a directory: "));
}

}  // namespace
}  // namespace trelvik
