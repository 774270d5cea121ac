#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/ptz.hpp"
#include "lib/shell_quote.hpp"
#include "tests/unit/support/test_support.hpp"

namespace trelvik {
namespace {

using Names = std::vector<std::string>;

std::string status_line(const std::string& value) {
  return "/com/zurn/Ptz1/Channel/1: org.freedesktop.DBus.Properties.PropertiesChanged ('com.zurn.Ptz1.Channel', "
         "{" + value + "}, @as [])\n";
}

std::string preset_status(int status, long preset) {
  return status_line("'PresetStatus': <(uint32 " + std::to_string(status) + ", uint32 " + std::to_string(preset) +
                     ")>");
}

// The GetPresets reply for `names`, as gdbus prints it.
std::string reply_of(const Names& names) {
  std::string reply = "(uint32 " + std::to_string(names.size()) + ", [";
  for (std::size_t i = 0; i < names.size(); ++i) reply += (i == 0 ? "'" : ", '") + names[i] + "'";
  return reply + "])\n";
}

TEST(PtzTracker, PresetReplies) {
  const std::string long_name(300, 'L');
  struct Case {
    std::string reply;
    bool table;
    std::size_t length;
    Names names;
  } cases[] = {
      {"(uint32 3, ['Home', 'Door', 'Gate'])\n", true, 3, {"Home", "Door", "Gate"}},
      {"", false, 0, {}},
      {"(uint32 0, @as [])\n", false, 0, {}},
      {"(3, ['Home', 'Door', 'Gate'])\n", false, 0, {}},  // an int32 count has no type word
      {"(['Home'],)\n", false, 0, {}},
      {"Error: GDBus.Error:org.freedesktop.DBus.Error.ServiceUnknown: The name is not activatable\n", false, 0, {}},
      {"(uint32 1, ['Home', 'Door'])\n", true, 1, {"Home"}},            // more names than presets
      {"(uint32 5, ['Home'])\n", true, 5, {"Home"}},                    // entries 2 to 5 stay unfilled
      {"(uint32 1234567, ['Home'])\n", true, 123456, {"Home"}},         // six digits at most
      {"(uint32 2, ['', 'Door'])\n", true, 2, {"", "Door"}},
      {"(uint32 2, ['" + long_name + "', 'Door'])\n", true, 2, {std::string(255, 'L'), "Door"}},
      {"(uint32 2, ['Home', 'Do", true, 2, {"Home", "Do"}},           // output ends inside a name
      {"(" + std::string(4100, 'x') + " 3, ['Home'])\n", false, 0, {}},  // no blank in the first 4095 bytes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply.substr(0, 80));
    const auto table = parse_preset_reply(c.reply);
    ASSERT_EQ(table.has_value(), c.table);
    if (!table) continue;
    EXPECT_EQ(table->length, c.length);
    EXPECT_EQ(table->names, c.names);
  }
}

TEST(PtzTracker, NameAcrossTheFirstChunkIsWhole) {
  Names names;
  for (int i = 1; i <= 400; ++i) names.push_back("Preset number " + std::to_string(i));
  const std::string reply = reply_of(names);
  ASSERT_GT(reply.size(), 8000u);
  // Find the name that spans bytes 4094 and 4095.
  std::size_t straddling = 0;
  for (std::size_t i = 0, pos = 0; i < names.size(); ++i) {
    pos = reply.find("'" + names[i] + "'", pos);
    if (pos < 4095 && pos + names[i].size() + 1 > 4095) straddling = i;
  }
  ASSERT_GT(straddling, 0u);
  const auto table = parse_preset_reply(reply);
  ASSERT_TRUE(table);
  EXPECT_EQ(table->names, names);
  EXPECT_EQ(*preset_movement_text(*table, preset_status(1, static_cast<long>(straddling + 1))),
            "Preset Movement: Preset Reached \"" + names[straddling] + "\" reached");
}

TEST(PtzTracker, MonitorLines) {
  PresetNameTable table;
  table.length = 5;
  table.names = {"Home", "Door", "Gate"};
  const std::string padding = "'Description': <'" + std::string(3000, 'x') + "'>, ";
  struct Case {
    std::string line;
    const char* text;
  } cases[] = {
      {preset_status(2, 3), "Preset Movement: Preset Moving \"Gate\""},
      {preset_status(1, 1), "Preset Movement: Preset Reached \"Home\" reached"},
      {status_line(padding + "'PresetStatus': <(uint32 1, uint32 2)>"),
       "Preset Movement: Preset Reached \"Door\" reached"},
      {preset_status(0, 1), nullptr},
      {preset_status(3, 1), nullptr},
      {preset_status(2, 0), nullptr},
      {preset_status(2, 4), nullptr},        // announced but never named
      {preset_status(2, 6), nullptr},        // added after the names were read
      {preset_status(1, 999999), nullptr},
      {status_line("'Other': <'v'>"), nullptr},
      {status_line("'PresetStatus': <(2, 3)>"), nullptr},  // (ii): no type words, no preset number found
      {status_line("'PresetStatus': <(uint32 2,"), nullptr},
      {status_line("'PresetStatus': <(uint32"), nullptr},
      {"/com/zurn/Ptz1/Channel/1: org.freedesktop.DBus.Mock.MethodCalled ('x', {'PresetStatus': <(uint32 2, "
       "uint32 3)>})\n",
       nullptr},
      {"", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line.substr(0, 200));
    const auto text = preset_movement_text(table, c.line);
    ASSERT_EQ(text.has_value(), c.text != nullptr);
    if (text) {
      EXPECT_EQ(*text, c.text);
    }
  }
  const auto reached = parse_preset_status(status_line("'PresetStatus': <(uint32 x, uint32 12)>"));
  ASSERT_TRUE(reached);
  EXPECT_EQ(reached->status, 0);  // a status that is not a digit is 0
  EXPECT_EQ(reached->preset, 12);
}

TEST(PtzTracker, ReadsNamesAndTracksThroughPipes) {
  ReadPipe reply("cat " + shell_word(std::string(TRELVIK_FIXTURES) + "/ptz/presets_reply.txt"));
  const auto table = ptz_read_preset_names(reply);
  reply.close();
  ASSERT_TRUE(table);
  ASSERT_EQ(table->names, (Names{"Home", "Door", "Gate"}));

  test::clear_log();
  ReadPipe monitor("cat " + shell_word(std::string(TRELVIK_FIXTURES) + "/ptz/monitor.txt"));
  ptz_track_movements(*table, monitor);
  EXPECT_EQ(monitor.close(), 0);
  std::vector<std::string> texts;
  for (const auto& line : test::captured_log()) {
    EXPECT_EQ(line.level, LOG_INFO);
    texts.push_back(line.text);
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"Preset Movement: Preset Moving \"Gate\"",
                                             "Preset Movement: Preset Reached \"Gate\" reached",
                                             "Preset Movement: Preset Reached \"Home\" reached"}));

  ReadPipe empty("true");
  EXPECT_FALSE(ptz_read_preset_names(empty));
}

}  // namespace
}  // namespace trelvik
