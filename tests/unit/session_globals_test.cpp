#include "lib/session/session_globals.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "lib/base/pipe.hpp"
#include "tests/unit/support/test_support.hpp"

namespace trelvik {
namespace {

constexpr const char* kState = "/usr/local/packages/Trelvik/localdata/current_monitoring_session.txt";

// A folder opens like a file and then fails every read: the read error that
// a failing medium gives, without one.
TEST(SessionGlobals, AStateFileThatCannotBeReadIsNotTakenForNoSession) {
  test::DeviceRoot root;
  std::string text = "kept";
  EXPECT_FALSE(read_text_file(root.path("/usr").string(), text));
  EXPECT_EQ(errno, EISDIR);
  EXPECT_EQ(text, "");

  test::clear_log();
  const SessionLoad absent = monitoring_session_load_checked();
  EXPECT_FALSE(absent.session || absent.unreadable);
  EXPECT_TRUE(test::captured_log().empty());

  std::filesystem::create_directory(root.path(kState));
  const SessionLoad unreadable = monitoring_session_load_checked();
  EXPECT_FALSE(unreadable.session);
  EXPECT_TRUE(unreadable.unreadable);
  ASSERT_EQ(test::captured_log().size(), 1u);
  EXPECT_TRUE(test::logged(LOG_ERR, "errno: Is a directory) Could not open file '" + root.path(kState).string() + "'"));
  EXPECT_EQ(errno, 0);
}

TEST(SessionGlobals, SaveWritesFourLinesAndLoadRoundTrips) {
  test::DeviceRoot root;
  monitoring_session edge;
  edge.storage_id = "SD_DISK";
  edge.secondary_storage_path = "/var/spool/storage/SD_DISK/Trelvik_ACCC8E000001/";
  edge.current_activity_folder = "20261208_05_20_00";
  edge.monitor_start_time = "Tue Dec  8 05:20:00 UTC 2026";
  ASSERT_TRUE(monitoring_session_save(&edge));
  EXPECT_EQ(root.read(kState),
            "SECS:SD_DISK\nSSPA:/var/spool/storage/SD_DISK/Trelvik_ACCC8E000001/\nACTI:20261208_05_20_00\n"
            "TIME:Tue Dec  8 05:20:00 UTC 2026\n");
  const SessionPtr loaded = monitoring_session_load();
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->storage_id, "SD_DISK");
  EXPECT_EQ(loaded->session_path, "/var/spool/storage/SD_DISK/Trelvik_ACCC8E000001/20261208_05_20_00");

  monitoring_session internal = edge;
  internal.storage_id.reset();
  ASSERT_TRUE(monitoring_session_save(&internal));
  EXPECT_EQ(root.read(kState).substr(0, 15), "SECS:localdata\n");
  EXPECT_FALSE(monitoring_session_load()->storage_id.has_value());

  ASSERT_TRUE(monitoring_session_save(nullptr));
  EXPECT_FALSE(monitoring_session_load());
  test::clear_log();
  ASSERT_TRUE(monitoring_session_save(nullptr));  // nothing left to remove
  EXPECT_TRUE(test::logged(LOG_DEBUG, "Could not remove '"));
}

TEST(SessionGlobals, LoadRules) {
  test::DeviceRoot root;
  const struct {
    const char* text;
    const char* message;  // null: loads
  } cases[] = {
      {"SECS:SD\n", "Missing start time."},
      {"SECS:SD\nSSPA:/x/\nTIME:t\n", "Missing secondary storage path or current activity folder."},
      {"TIME:t\r\n\nnoise\nACTI:a\nSSPA:/x/\nSSPA:/y/", nullptr},
      {"SECS:localdata-and-more\nSSPA:/x/\nACTI:a\nTIME:t\n", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    test::clear_log();
    root.write(kState, c.text);
    const SessionPtr session = monitoring_session_load();
    EXPECT_EQ(session == nullptr, c.message != nullptr);
    EXPECT_TRUE(session ? !session->storage_id.has_value() : test::logged(LOG_ERR, c.message));
  }
  // A key given twice takes the later value; only the line feed is cut.
  root.write(kState, "TIME:t\r\nACTI:a\nSSPA:/x/\nSSPA:/y/");
  EXPECT_EQ(monitoring_session_load()->session_path, "/y/a");
  EXPECT_EQ(monitoring_session_load()->monitor_start_time, "t\r");

  EXPECT_FALSE(monitoring_session_is_active(nullptr));
  monitoring_session only_id;
  only_id.storage_id = "SD";
  EXPECT_FALSE(monitoring_session_is_active(&only_id));
}

TEST(SessionGlobals, FailedSaveIsLogged) {
  test::DeviceRoot root;
  // A folder where the file belongs can be replaced by no one.
  root.write(std::string(kState) + "/keep", "x");
  monitoring_session session;
  session.secondary_storage_path = "/x/";
  session.current_activity_folder = "a";
  session.monitor_start_time = "t";
  test::clear_log();
  EXPECT_FALSE(monitoring_session_save(&session));
  EXPECT_TRUE(test::logged(LOG_ERR, "Could not open file '"));
}

}  // namespace
}  // namespace trelvik
