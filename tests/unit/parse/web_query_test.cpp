#include "lib/parse/web_query.hpp"

#include <gtest/gtest.h>

#include <string>

namespace trelvik {
namespace {

// What each query should give: the action and its value, or the refusal text.
struct Case {
  std::string query;
  bool accepted;
  std::string_view action;
  std::string value_or_error;
};

TEST(WebQuery, AcceptedRequestsCarryOnlyTheirValue) {
  const Case cases[] = {
      {"action=status", true, "status", ""},
      {"action=storages&", true, "storages", ""},
      {"&&action=information", true, "information", ""},
      {"action=metrics", true, "metrics", ""},
      {"action=begin&storage=SD_DISK", true, "begin", "SD_DISK"},
      {"storage=localdata&action=begin", true, "begin", "localdata"},
      {"action=begin&storage=Network-Share.1", true, "begin", "Network-Share.1"},
      {"action=%65nd", true, "end", ""},  // values are decoded, names are not
      {"action=ptz_interval&minutes=0120", true, "ptz_interval", "0120"},
      {"action=ptz_interval&minutes=", true, "ptz_interval", ""},  // the action answers "too short"
      {"action=ptz_times&times=08%3A00%2C20%3A30", true, "ptz_times", "08:00,20:30"},
      {"action=ptz_times&times=", true, "ptz_times", ""},  // removes the setting
      {"action=ptz_times&times=00:00,23:59", true, "ptz_times", "00:00,23:59"},
      {"action=ptz_stop", true, "ptz_stop", ""},
      {"action=tail", true, "tail", ""},
      {"action=download&name=20261206_18_48_53", true, "download", "20261206_18_48_53"},
      {"action=download&name=20261206_18_48_53.zip", true, "download", "20261206_18_48_53"},
  };
  for (const Case& c : cases) {
    std::string error;
    const auto request = parse_web_query(c.query, error);
    ASSERT_TRUE(request) << c.query << ": " << error;
    EXPECT_EQ(request->action->name, c.action) << c.query;
    EXPECT_EQ(request->value, c.value_or_error) << c.query;
  }
}

TEST(WebQuery, HostileQueriesAreRefusedWithAReadableText) {
  const std::string huge(std::size_t{100} * 1024, 'A');
  const Case cases[] = {
      {"", false, {}, "Error: Unknown action."},
      {"action=", false, {}, "Error: Unknown action."},
      {"action=rm", false, {}, "Error: Unknown action."},
      {"action=STATUS", false, {}, "Error: Unknown action."},
      {"action=status;id", false, {}, "Error: Unknown action."},
      {"action=status&action=end", false, {}, "Error: Repeated parameter action."},
      {"action=begin&storage=a&storage=b", false, {}, "Error: Repeated parameter storage."},
      {"action=status&debug=1", false, {}, "Error: Unknown parameter."},
      {"act%69on=status", false, {}, "Error: Unknown parameter."},
      {"action=status&storage=SD_DISK", false, {}, "Error: The action takes no parameter storage."},
      {"action=metrics&name=x", false, {}, "Error: The action takes no parameter name."},
      {"action=begin&minutes=5", false, {}, "Error: The action takes no parameter minutes."},
      {"action=begin", false, {}, "Error: Missing parameter storage."},
      {"action=download", false, {}, "Error: Missing parameter name."},
      {"action=begin&storage=SD;reboot", false, {}, "Error: Invalid value of parameter storage."},
      {"action=begin&storage=%24(reboot)", false, {}, "Error: Invalid value of parameter storage."},
      {"action=begin&storage=%60id%60", false, {}, "Error: Invalid value of parameter storage."},
      {"action=begin&storage=..", false, {}, "Error: Invalid value of parameter storage."},
      {"action=begin&storage=..%2F..%2Fetc", false, {}, "Error: Invalid value of parameter storage."},
      {"action=begin&storage=SD%20DISK", false, {}, "Error: Invalid value of parameter storage."},
      {"action=begin&storage=", false, {}, "Error: Invalid value of parameter storage."},
      {"action=begin&storage=SD%00DISK", false, {}, "Error: Malformed value of parameter storage."},
      {"action=begin&storage=SD%0aDISK", false, {}, "Error: Malformed value of parameter storage."},
      {"action=begin&storage=SD%0DDISK", false, {}, "Error: Malformed value of parameter storage."},
      {"action=begin&storage=SD%2", false, {}, "Error: Malformed value of parameter storage."},
      {"action=begin&storage=SD%zz", false, {}, "Error: Malformed value of parameter storage."},
      // Decoded once: "%2541" stays "%41", which is no storage id.
      {"action=begin&storage=%2541", false, {}, "Error: Invalid value of parameter storage."},
      {"action=ptz_interval&minutes=5;id", false, {}, "Error: Invalid value of parameter minutes."},
      {"action=ptz_interval&minutes=-5", false, {}, "Error: Invalid value of parameter minutes."},
      {"action=ptz_interval&minutes=123456789012345678901", false, {}, "Error: Invalid value of parameter minutes."},
      {"action=ptz_times&times=8:00", false, {}, "Error: Invalid value of parameter times."},
      {"action=ptz_times&times=24:00", false, {}, "Error: Invalid value of parameter times."},
      {"action=ptz_times&times=08:60", false, {}, "Error: Invalid value of parameter times."},
      {"action=ptz_times&times=08:00,", false, {}, "Error: Invalid value of parameter times."},
      {"action=ptz_times&times=08:00+20:00", false, {}, "Error: Invalid value of parameter times."},
      {"action=ptz_times&times=%2208:00", false, {}, "Error: Invalid value of parameter times."},
      {"action=download&name=..%2F..%2Fetc%2Fpasswd", false, {}, "Error: Invalid value of parameter name."},
      {"action=download&name=../20261206_18_48_53", false, {}, "Error: Invalid value of parameter name."},
      {"action=download&name=20261206_18_48_5", false, {}, "Error: Invalid value of parameter name."},
      {"action=download&name=20261206_18_48_533", false, {}, "Error: Invalid value of parameter name."},
      {"action=download&name=20261206-18_48_53", false, {}, "Error: Invalid value of parameter name."},
      {"action=download&name=20261206_18_48_53.zip.zip", false, {}, "Error: Invalid value of parameter name."},
      {"action=begin&storage=" + huge, false, {}, "Error: The request is too long."},
      {"action=status&" + huge, false, {}, "Error: The request is too long."},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(parse_web_query(c.query, error)) << c.query.substr(0, 80);
    EXPECT_EQ(error, c.value_or_error) << c.query.substr(0, 80);
  }
}

TEST(WebQuery, StateChangesAndDecoding) {
  for (const WebActionRule& rule : web_actions()) {
    const bool post = rule.name == "begin" || rule.name == "end" || rule.name.starts_with("ptz_");
    EXPECT_EQ(rule.changes_state, post) << rule.name;
  }
  EXPECT_EQ(percent_decode("a+b%2Bc%2fd%C3%A9"), "a b+c/d\xc3\xa9");
  EXPECT_EQ(percent_decode(""), "");
  EXPECT_EQ(percent_decode("%00"), std::string(1, '\0'));
  EXPECT_FALSE(percent_decode("%"));
  EXPECT_FALSE(percent_decode("ab%4"));
  EXPECT_FALSE(percent_decode("%g0"));
}

}  // namespace
}  // namespace trelvik
