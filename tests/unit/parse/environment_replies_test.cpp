#include "lib/parse/environment_replies.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

#include "lib/parse/tool_lines.hpp"

namespace trelvik {
namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line + "\n");
  // A reply cut off in the middle of its last line.
  if (!text.empty() && text.back() != '\n') lines.back().pop_back();
  return lines;
}

// What the real dbus-send --print-reply printed for the mock controller.
constexpr const char* kTemperatures =
    "method return time=1796707907.142984 sender=:1.1 -> destination=:1.4 serial=9 reply_serial=2\n"
    "   array [\n"
    "      struct {\n         int32 0\n         double 40\n      }\n"
    "      struct {\n         int32 1\n         double 38.5\n      }\n"
    "      struct {\n         int32 2\n         double -3.25\n      }\n"
    "      struct {\n         int32 3\n         double 1e-05\n      }\n"
    "      struct {\n         int32 10\n         double 20\n      }\n"
    "      struct {\n         int32 11\n         double 21\n      }\n"
    "   ]\n";
constexpr const char* kFans =
    "method return time=1796707907.171949 sender=:1.1 -> destination=:1.9 serial=19 reply_serial=2\n"
    "   array [\n"
    "      struct {\n         int32 0\n         string \"running\"\n      }\n"
    "      struct {\n         int32 1\n         string \"stopped\"\n      }\n"
    "   ]\n";

TEST(EnvironmentReplies, SensorNameLines) {
  const std::string prefix = "root.TemperatureControl.Sensor.";
  const std::tuple<std::string, int, std::string> named[] = {
      {"S0.Name=CPU\n", 0, "CPU"}, {"S19.Name=Main Board", 19, "Main Board"},
      {"S3.Name=a=b\n", 3, "a=b"}, {"S4.Name=\n", 4, ""},
      {"S5.Name=x\ny\n", 5, "x"},
  };
  for (const auto& [rest, index, name] : named) {
    EXPECT_EQ(parse_sensor_name_line(prefix + rest), std::pair(index, name)) << rest;
  }
  for (const std::string& line :
       {prefix + "S20.Name=Overflow\n", prefix + "S-1.Name=Negative\n", prefix + "S0.Enabled=yes\n",
        prefix + "S0.Names=x\n", prefix + "S0.Name\n", prefix + "Sx.Name=x\n", prefix + "S99999999999.Name=x\n",
        "# " + prefix + "S0.Name=x\n", std::string()}) {
    EXPECT_EQ(parse_sensor_name_line(line), std::nullopt) << line;
  }
  EXPECT_EQ(sensor_file_name("Main/Board/../x"), "Main_Board_.._x");

  const std::pair<const char*, std::optional<int>> counts[] = {
      {"   int32 3\n", 3}, {"   int32 0", 0},    {"   uint32 7\n", 7},      {"   int32 -1\n", -1},
      {"   int32\n", {}},  {"   int32 x\n", {}}, {"   string \"3\"\n", {}}, {"", {}},
  };
  for (const auto& [line, count] : counts) EXPECT_EQ(parse_count_reply(line), count) << line;
}

TEST(EnvironmentReplies, TemperatureReplies) {
  const auto reply = lines_of(kTemperatures);
  // Entry 1, not 10 or 11; doubles as dbus-send prints them (%g).
  for (const auto& [index, value] : {std::pair{1, "38.5"}, {2, "-3.25"}, {3, "1e-05"}, {10, "20"}}) {
    EXPECT_EQ(parse_temperature_reply(reply, index).value, value) << index;
  }
  EXPECT_EQ(parse_temperature_reply(reply, 1).line, "         double 38.5\n");
  EXPECT_EQ(parse_temperature_reply(reply, 4).status, ReplyValue::kNoEntry);

  // Truncated and malformed replies give no value and never read past the text.
  EXPECT_EQ(parse_temperature_reply(lines_of("   int32 0\n"), 0).status, ReplyValue::kNoValueLine);
  for (const char* text : {"   int32 0\n   string \"x\"\n", "   int32 0\n   double", "   int32 0\n   double \n"}) {
    EXPECT_EQ(parse_temperature_reply(lines_of(text), 0).status, ReplyValue::kNoValue) << text;
  }
  EXPECT_EQ(parse_temperature_reply(lines_of("   int32 0\n   double 5"), 0).value, "5");
  EXPECT_EQ(parse_temperature_reply({}, 0).status, ReplyValue::kNoEntry);
}

TEST(EnvironmentReplies, HeaterAndFanReplies) {
  const struct {
    const char* reply;
    ReplyValue status;
    const char* value;
  } heaters[] = {
      {"method return time=1 sender=:1.1 -> destination=:1.5 serial=11 reply_serial=2\n   string \"on\"\n",
       ReplyValue::kFound, "on"},
      {"   string \"\"\n", ReplyValue::kFound, ""},
      {"   string \"a\"b\"\n", ReplyValue::kFound, "a"},
      // A status holding a line feed: its first line has one quote only.
      {"   string \"li\nne\"\n", ReplyValue::kNoValue, ""},
      {"   string \"on", ReplyValue::kNoValue, ""},
      {"   string ", ReplyValue::kNoValue, ""},
      {"   int32 1\n", ReplyValue::kNoEntry, ""},
      {"", ReplyValue::kNoEntry, ""},
  };
  for (const auto& c : heaters) {
    const ReplyResult result = parse_heater_reply(lines_of(c.reply));
    EXPECT_EQ(result.status, c.status) << c.reply;
    EXPECT_EQ(result.value, c.value) << c.reply;
  }

  const auto reply = lines_of(kFans);
  EXPECT_EQ(parse_fan_reply(reply, 0).value, "running");
  EXPECT_EQ(parse_fan_reply(reply, 1).value, "stopped");
  EXPECT_EQ(parse_fan_reply(reply, 2).status, ReplyValue::kNoEntry);
  // The index line followed by a non-string line: noted, and the search goes on.
  const ReplyResult odd = parse_fan_reply(lines_of("   int32 0\n   double 1\n   int32 0\n   string \"late\"\n"), 0);
  EXPECT_EQ(odd.value, "late");
  EXPECT_EQ(odd.unexpected, std::vector<std::string>{"   double 1\n"});
  EXPECT_EQ(parse_fan_reply(lines_of("   int32 0\n   double 1\n"), 0).status, ReplyValue::kNoEntry);
  EXPECT_EQ(parse_fan_reply(lines_of("   int32 0\n"), 0).status, ReplyValue::kNoValueLine);
  EXPECT_EQ(parse_fan_reply(lines_of("   int32 0\n   string \"open"), 0).status, ReplyValue::kNoValue);
  // "int32 1" also matches the entries 10 to 19: the first matching line wins.
  EXPECT_EQ(parse_fan_reply(lines_of("   int32 10\n   string \"ten\"\n   int32 1\n   string \"one\"\n"), 1).value,
            "ten");
}

// busybox top -n 1 -b, as the device prints it.
constexpr const char* kTop =
    "Mem: 1234K used, 24025068K free, 10312K shrd, 2476K buff, 485480K cached\n"
    "CPU:   0% usr   0% sys   0% nic 100% idle   0% io   0% irq   0% sirq\n"
    "Load average: 2.19 0.86 0.35 1/127 10244\n"
    "  PID  PPID USER     STAT   VSZ %VSZ %CPU COMMAND\n"
    "12345     1 root     S     5544  12%   3% /usr/local/packages/Trelvik/trelvik_daemon\n"
    " 1234     1 root     S     5360   2%   0% bash\n"
    "  123     1 root     S     5360   1%  45% sh\n";

TEST(EnvironmentReplies, TopLines) {
  const auto lines = lines_of(kTop);
  using Figures = std::optional<std::pair<int, int>>;
  // 1234 is not the "Mem: 1234K" line.
  const std::pair<long, Figures> cases[] = {
      {12345, std::pair{12, 3}}, {1234, std::pair{2, 0}}, {123, std::pair{1, 45}}, {12, {}}, {1, {}}};
  for (const auto& [pid, figures] : cases) {
    const auto line = find_top_line(lines, pid);
    ASSERT_EQ(line.has_value(), figures.has_value()) << pid;
    if (line) {
      EXPECT_EQ(parse_top_percentages(*line), figures) << pid;
    }
  }
  EXPECT_EQ(parse_top_percentages("1 root S 5544 %VSZ 7%"), (std::pair{0, 7}));
  EXPECT_EQ(parse_top_percentages("1 root S 5544 9% x"), std::nullopt);
  EXPECT_EQ(parse_top_percentages("no figures"), std::nullopt);
  EXPECT_EQ(find_top_line(lines_of("-12345 x 1% 2%\n"), 12345), std::nullopt);
}

}  // namespace
}  // namespace trelvik
