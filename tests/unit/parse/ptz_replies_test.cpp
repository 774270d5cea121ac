#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/device/ptz.hpp"
#include "lib/parse/ptz_replies.hpp"

namespace trelvik {
namespace {

using Names = std::vector<std::string>;

std::string status_line(const std::string& value) {
  return "/com/zurn/Ptz1/Channel/1: org.freedesktop.DBus.Properties.PropertiesChanged ('com.zurn.Ptz1.Channel', "
         "{" +
         value + "}, @as [])\n";
}

std::string preset_status(int status, long preset) {
  return status_line("'PresetStatus': <(uint32 " + std::to_string(status) + ", uint32 " + std::to_string(preset) +
                     ")>");
}

TEST(PtzTracker, PresetReplies) {
  using Table = std::optional<std::pair<std::size_t, Names>>;
  const std::pair<std::string, Table> cases[] = {
      {"(uint32 3, ['Home', 'Door', 'Gate'])\n", {{3, {"Home", "Door", "Gate"}}}},
      {"", {}},
      {"(uint32 0, @as [])\n", {}},
      {"(3, ['Home', 'Door', 'Gate'])\n", {}},  // an int32 count has no type word
      {"(['Home'],)\n", {}},
      {"Error: GDBus.Error:org.freedesktop.DBus.Error.ServiceUnknown: The name is not activatable\n", {}},
      {"(uint32 1, ['Home', 'Door'])\n", {{1, {"Home"}}}},     // more names than presets
      {"(uint32 5, ['Home'])\n", {{5, {"Home"}}}},             // entries 2 to 5 stay unfilled
      {"(uint32 1234567, ['Home'])\n", {{123456, {"Home"}}}},  // six digits at most
      {"(uint32 2, ['', 'Door'])\n", {{2, {"", "Door"}}}},
      {"(uint32 2, ['" + std::string(300, 'L') + "', 'Door'])\n", {{2, {std::string(255, 'L'), "Door"}}}},
      {"(uint32 2, ['Home', 'Do", {{2, {"Home", "Do"}}}},      // output ends inside a name
      {"(" + std::string(4100, 'x') + " 3, ['Home'])\n", {}},  // no blank in the first 4095 bytes
  };
  for (const auto& [reply, expected] : cases) {
    const auto table = parse_preset_reply(reply);
    EXPECT_EQ(table ? Table({table->length, table->names}) : std::nullopt, expected) << reply.substr(0, 80);
  }
}

TEST(PtzTracker, NameAcrossTheFirstChunkIsWhole) {
  Names names;
  std::string reply = "(uint32 400, [";
  for (int i = 1; i <= 400; ++i) {
    names.push_back("Preset number " + std::to_string(i));
    reply += (i == 1 ? "'" : ", '") + names.back() + "'";
  }
  reply += "])\n";
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
  EXPECT_EQ(preset_movement_text(*table, preset_status(1, static_cast<long>(straddling + 1))),
            "Preset Movement: Preset Reached \"" + names[straddling] + "\" reached");
}

TEST(PtzTracker, MonitorLines) {
  PresetNameTable table;
  table.length = 5;
  table.names = {"Home", "Door", "Gate"};
  const std::string padding = "'Description': <'" + std::string(3000, 'x') + "'>, ";
  EXPECT_EQ(preset_movement_text(table, preset_status(2, 3)), "Preset Movement: Preset Moving \"Gate\"");
  EXPECT_EQ(preset_movement_text(table, preset_status(1, 1)), "Preset Movement: Preset Reached \"Home\" reached");
  EXPECT_EQ(preset_movement_text(table, status_line(padding + "'PresetStatus': <(uint32 1, uint32 2)>")),
            "Preset Movement: Preset Reached \"Door\" reached");
  const std::string silent[] = {
      preset_status(0, 1),
      preset_status(3, 1),
      preset_status(2, 0),
      preset_status(2, 4),  // announced but never named
      preset_status(2, 6),  // added after the names were read
      preset_status(1, 999999),
      status_line("'Other': <'v'>"),
      status_line("'PresetStatus': <(2, 3)>"),  // (ii): no type words, no preset number found
      status_line("'PresetStatus': <(uint32 2,"),
      status_line("'PresetStatus': <(uint32"),
      // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): one line, split to fit
      "/com/zurn/Ptz1/Channel/1: org.freedesktop.DBus.Mock.MethodCalled ('x', {'PresetStatus': <(uint32 2, "
      "uint32 3)>})\n",
      "",
  };
  for (const auto& line : silent) EXPECT_EQ(preset_movement_text(table, line), std::nullopt) << line;
  const auto reached = parse_preset_status(status_line("'PresetStatus': <(uint32 x, uint32 12)>"));
  ASSERT_TRUE(reached);
  EXPECT_EQ(reached->status, 0);  // a status that is not a digit is 0
  EXPECT_EQ(reached->preset, 12);
}

}  // namespace
}  // namespace trelvik
