#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "lib/lifecycle/archive.hpp"
#include "lib/session/session_info.hpp"
#include "tests/unit/support/test_support.hpp"

namespace trelvik {
namespace {

TEST(SessionInfo, UpdatesRewriteInPlaceOrAppend) {
  test::DeviceRoot root;
  const std::string activated =
      "Model Name: Q6135-LE\r\nStart Time of the session: Sun Dec  6 18:48:53 UTC 2026\r\n"
      "Stop Time of the session: Still active\r\nCollected Data Points: 0\r\n";
  root.write("/s/Session_Information.txt", activated);
  update_number_of_collected_data_points(root.path("/s").c_str());
  update_session_duration(root.path("/s").c_str());
  update_session_duration(root.path("/s").c_str());
  // "0\r\n" becomes "1\n" in the same place; the duration is appended, then counted on.
  EXPECT_EQ(root.read("/s/Session_Information.txt"),
            activated.substr(0, activated.size() - 3) + "1\nDuration: 0 Days 0 hours 1 minutes\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root.path("/s")), {}), 1);  // no temporary left

  // A file without the count gets it, starting at one.
  root.write("/t/Session_Information.txt", "Model Name: Q6135-LE\r\n");
  update_number_of_collected_data_points(root.path("/t").c_str());
  EXPECT_EQ(root.read("/t/Session_Information.txt"), "Model Name: Q6135-LE\r\nCollected Data Points: 1\n");
}

// A folder opens like a file and then fails every read, as a failing medium
// would: the update must not install what little it read.
TEST(SessionInfo, AnInformationFileThatCannotBeReadIsLeftAlone) {
  test::DeviceRoot root;
  const auto info = root.path("/s/Session_Information.txt");
  std::filesystem::create_directories(info);
  test::clear_log();
  update_number_of_collected_data_points(root.path("/s").c_str());
  ASSERT_EQ(test::captured_log().size(), 1u);
  EXPECT_EQ(test::captured_log()[0].level, LOG_DEBUG);
  EXPECT_EQ(test::captured_log()[0].text, "(errno: Is a directory) Could not open file '" + info.string() + "'");
  EXPECT_TRUE(std::filesystem::is_directory(info));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root.path("/s")), {}), 1);
}

TEST(SessionInfo, MonitoryDirRulesAndRefusals) {
  test::DeviceRoot root;
  const std::pair<const char*, bool> folders[] = {
      {"/var/spool/storage/SD_DISK/Trelvik_ABC123/20261206_18_48_53", true},
      {"/usr/local/packages/Trelvik/localdata/20260000_24_60_60", true},
      {"/var/spool/storage/SD_DISK/Trelvik_ABC123/2026120_18_48_53", false},
      {"/var/spool/storage/SD_DISK/Trelvik_ABC123/202612066_18_48_53", false},
      {"/var/spool/storage/SD_DISK/Other_ABC123/20261206_18_48_53", false},
      {"/tmp/20261206_18_48_53", false},
      {"/usr/local/packages/Trelvik/localdata/20261306_18_48_53", false},
      {"/usr/local/packages/Trelvik/localdata/x/../20261206_18_48_53", false},
  };
  for (const auto& [folder, accepted] : folders) {
    std::filesystem::create_directories(root.path(folder));
    EXPECT_EQ(is_monitory_dir(root.path(folder).c_str()), accepted) << folder;
  }
  EXPECT_FALSE(is_monitory_dir(root.path("/usr/local/packages/Trelvik/localdata/20261206_18_48_54").c_str()));
  EXPECT_FALSE(is_monitory_dir(nullptr));

  // Without the information file nothing is created.
  test::clear_log();
  update_session_duration(root.path("/var/spool/storage/SD_DISK/Trelvik_ABC123/20261206_18_48_53").c_str());
  EXPECT_TRUE(test::logged(LOG_DEBUG, "Could not open file '"));
  EXPECT_TRUE(std::filesystem::is_empty(root.path("/var/spool/storage/SD_DISK/Trelvik_ABC123/20261206_18_48_53")));

  EXPECT_EQ(zip_session("relative"), 1);
  EXPECT_TRUE(test::logged(LOG_WARNING, "Could not get basename of path: relative"));
  EXPECT_TRUE(test::logged(LOG_ERR, "Path to zip is not a directory: relative"));
  EXPECT_EQ(zip_session(root.path("/missing").c_str()), 1);
  EXPECT_TRUE(test::logged(LOG_ERR, "Path to zip is not a directory: " + root.path("/missing").string()));
}

TEST(SessionInfo, ZipRunsBesideTheFolderAndLeavesTheWorkingDirectory) {
  test::DeviceRoot root;
  const std::string session = root.path("/usr/local/packages/Trelvik/localdata/20261206_18_48_53").string();
  std::filesystem::create_directories(session + "/system_monitoring");
  test::write_file(session + "/Session_Information.txt", "Model Name: Q\r\n");
  const auto before = std::filesystem::current_path();
  EXPECT_EQ(zip_session(session.c_str()), 1);
  // The daemon must not keep an edge storage busy as its working directory.
  EXPECT_EQ(std::filesystem::current_path(), before);
  const std::string archive = session + ".zip";
  for (int i = 0; i < 500 && (!std::filesystem::exists(archive) || is_zipping_session(session.c_str())); ++i) {
    usleep(10'000);  // the archive is written in the background
  }
  EXPECT_TRUE(std::filesystem::exists(archive));
}

}  // namespace
}  // namespace trelvik
