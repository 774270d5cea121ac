#include "lib/parse/state_file.hpp"

#include <gtest/gtest.h>

#include <string>

namespace trelvik {
namespace {

TEST(StateFile, ParseRulesAndRoundTrip) {
  // Short lines, unknown keys and blank lines are ignored; a key given twice
  // takes the later value; only the line feed is cut.
  const monitoring_session parsed =
      monitoring_session_parse("TIME:t\r\n\nnoise\nSSP\nACTI:a\nSSPA:/x/\nSSPA:/y/\nSECS:SD_DISK");
  EXPECT_EQ(parsed.monitor_start_time, "t\r");
  EXPECT_EQ(parsed.current_activity_folder, "a");
  EXPECT_EQ(parsed.secondary_storage_path, "/y/");
  EXPECT_EQ(parsed.storage_id, "SD_DISK");
  EXPECT_FALSE(parsed.session_path.has_value());  // the loader joins it

  // Anything beginning with "localdata" is the internal storage, also after
  // an edge storage named earlier in the text.
  EXPECT_FALSE(monitoring_session_parse("SECS:SD\nSECS:localdata-and-more\n").storage_id.has_value());
  EXPECT_EQ(monitoring_session_parse("SECS:\n").storage_id, "");
  const monitoring_session empty = monitoring_session_parse("");
  EXPECT_FALSE(empty.storage_id || empty.secondary_storage_path || empty.current_activity_folder ||
               empty.monitor_start_time);

  monitoring_session session;
  session.storage_id = "SD_DISK";
  session.secondary_storage_path = "/var/spool/storage/SD_DISK/Trelvik_X/";
  session.current_activity_folder = "20261208_05_20_00";
  session.monitor_start_time = "Tue Dec  8 05:20:00 UTC 2026";
  const std::string text = monitoring_session_format(session);
  EXPECT_EQ(text,
            "SECS:SD_DISK\nSSPA:/var/spool/storage/SD_DISK/Trelvik_X/\nACTI:20261208_05_20_00\n"
            "TIME:Tue Dec  8 05:20:00 UTC 2026\n");
  EXPECT_EQ(monitoring_session_format(monitoring_session_parse(text)), text);
  EXPECT_EQ(monitoring_session_format(monitoring_session{}), "SECS:localdata\nSSPA:\nACTI:\nTIME:\n");
}

}  // namespace
}  // namespace trelvik
