#include "lib/environment.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>
#include <sstream>

#include "tests/unit/support/test_support.hpp"

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

TEST(Environment, SensorNameLines) {
  struct Case {
    const char* line;
    int index;  // -1: refused
    const char* name;
  } cases[] = {
      {"root.TemperatureControl.Sensor.S0.Name=CPU\n", 0, "CPU"},
      {"root.TemperatureControl.Sensor.S19.Name=Main Board", 19, "Main Board"},
      {"root.TemperatureControl.Sensor.S3.Name=a=b\n", 3, "a=b"},
      {"root.TemperatureControl.Sensor.S4.Name=\n", 4, ""},
      {"root.TemperatureControl.Sensor.S5.Name=x\ny\n", 5, "x"},
      {"root.TemperatureControl.Sensor.S20.Name=Overflow\n", -1, nullptr},
      {"root.TemperatureControl.Sensor.S-1.Name=Negative\n", -1, nullptr},
      {"root.TemperatureControl.Sensor.S0.Enabled=yes\n", -1, nullptr},
      {"root.TemperatureControl.Sensor.S0.Names=x\n", -1, nullptr},
      {"root.TemperatureControl.Sensor.S0.Name\n", -1, nullptr},
      {"root.TemperatureControl.Sensor.Sx.Name=x\n", -1, nullptr},
      {"root.TemperatureControl.Sensor.S99999999999.Name=x\n", -1, nullptr},
      {"# root.TemperatureControl.Sensor.S0.Name=x\n", -1, nullptr},
      {"", -1, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const auto sensor = parse_sensor_name_line(c.line);
    ASSERT_EQ(sensor.has_value(), c.index >= 0);
    if (sensor) {
      EXPECT_EQ(sensor->first, c.index);
      EXPECT_EQ(sensor->second, c.name);
    }
  }
  EXPECT_EQ(sensor_file_name("Main/Board/../x"), "Main_Board_.._x");
}

TEST(Environment, CountReplies) {
  struct Case {
    const char* line;
    std::optional<int> count;
  } cases[] = {
      {"   int32 3\n", 3},       {"   int32 0", 0},     {"   uint32 7\n", 7}, {"   int32 -1\n", -1},
      {"   int32\n", std::nullopt}, {"   int32 x\n", std::nullopt}, {"   string \"3\"\n", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(parse_count_reply(c.line), c.count);
  }
}

TEST(Environment, TemperatureReplies) {
  const auto reply = lines_of(kTemperatures);
  struct Case {
    int index;
    ReplyValue status;
    const char* value;
  } cases[] = {
      {0, ReplyValue::kFound, "40"},         {1, ReplyValue::kFound, "38.5"},  // not entry 10 or 11
      {2, ReplyValue::kFound, "-3.25"},      {3, ReplyValue::kFound, "1e-05"},
      {10, ReplyValue::kFound, "20"},        {4, ReplyValue::kNoEntry, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.index);
    const ReplyResult result = parse_temperature_reply(reply, c.index);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.value, c.value);
  }
  EXPECT_EQ(parse_temperature_reply(reply, 1).line, "         double 38.5\n");

  // Truncated and malformed replies give no value and never read past the text.
  EXPECT_EQ(parse_temperature_reply(lines_of("   int32 0\n"), 0).status, ReplyValue::kNoValueLine);
  EXPECT_EQ(parse_temperature_reply(lines_of("   int32 0\n   string \"x\"\n"), 0).status, ReplyValue::kNoValue);
  EXPECT_EQ(parse_temperature_reply(lines_of("   int32 0\n   double"), 0).status, ReplyValue::kNoValue);
  EXPECT_EQ(parse_temperature_reply(lines_of("   int32 0\n   double \n"), 0).status, ReplyValue::kNoValue);
  EXPECT_EQ(parse_temperature_reply(lines_of("   int32 0\n   double 5"), 0).value, "5");
  EXPECT_EQ(parse_temperature_reply({}, 0).status, ReplyValue::kNoEntry);
}

TEST(Environment, HeaterReplies) {
  struct Case {
    const char* reply;
    ReplyValue status;
    const char* value;
  } cases[] = {
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
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    const ReplyResult result = parse_heater_reply(lines_of(c.reply));
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.value, c.value);
  }
}

TEST(Environment, FanReplies) {
  const auto reply = lines_of(kFans);
  EXPECT_EQ(parse_fan_reply(reply, 0).value, "running");
  EXPECT_EQ(parse_fan_reply(reply, 1).value, "stopped");
  EXPECT_EQ(parse_fan_reply(reply, 2).status, ReplyValue::kNoEntry);

  // The index line followed by a non-string line: noted, and the search goes on.
  const ReplyResult odd = parse_fan_reply(lines_of("   int32 0\n   double 1\n   int32 0\n   string \"late\"\n"), 0);
  EXPECT_EQ(odd.status, ReplyValue::kFound);
  EXPECT_EQ(odd.value, "late");
  EXPECT_EQ(odd.unexpected, std::vector<std::string>{"   double 1\n"});
  const ReplyResult none = parse_fan_reply(lines_of("   int32 0\n   double 1\n"), 0);
  EXPECT_EQ(none.status, ReplyValue::kNoEntry);
  EXPECT_EQ(none.unexpected.size(), 1u);

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

TEST(Environment, TopLines) {
  const auto lines = lines_of(kTop);
  struct Case {
    long pid;
    std::optional<std::pair<int, int>> figures;
  } cases[] = {
      {12345, std::pair{12, 3}},
      {1234, std::pair{2, 0}},  // not the "Mem: 1234K" line
      {123, std::pair{1, 45}},
      {12, std::nullopt},
      {1, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pid);
    const auto line = find_top_line(lines, c.pid);
    ASSERT_EQ(line.has_value(), c.figures.has_value());
    if (line) {
      EXPECT_EQ(parse_top_percentages(*line), c.figures);
    }
  }
  EXPECT_EQ(parse_top_percentages("1 root S 5544 %VSZ 7%"), (std::pair{0, 7}));
  EXPECT_EQ(parse_top_percentages("1 root S 5544 9% x"), std::nullopt);
  EXPECT_EQ(parse_top_percentages("no figures"), std::nullopt);
  EXPECT_EQ(find_top_line(lines_of("-12345 x 1% 2%\n"), 12345), std::nullopt);
}

// A fake "top" first on PATH that prints the test's own line.
class FakeTop {
 public:
  explicit FakeTop(const test::DeviceRoot& root, const std::string& process_line) : old_path_(std::getenv("PATH")) {
    const auto bin = root.dir() / "fakebin";
    std::filesystem::create_directories(bin);
    test::write_file(root.dir() / "top.txt", std::string(kTop) + process_line);
    test::write_file(bin / "top", "#!/bin/sh\ncat '" + (root.dir() / "top.txt").string() + "'\n");
    chmod((bin / "top").c_str(), 0755);
    setenv("PATH", (bin.string() + ":" + old_path_).c_str(), 1);
  }
  ~FakeTop() { setenv("PATH", old_path_.c_str(), 1); }

 private:
  std::string old_path_;
};

TEST(Environment, SelfMonitoringWritesHeaderOnceAndFigures) {
  test::DeviceRoot root;
  const std::string own = std::to_string(getpid()) + "     1 root     S     5544   2%   0% driver\n";
  FakeTop top(root, own);
  const auto folder = root.dir() / "monitoring_self";
  store_self_monitoring(folder.c_str());
  store_self_monitoring(folder.c_str());
  const std::string text = test::read_file(folder / "Trelvik_summary.csv");
  const std::string row = R"(\d{4}-\d\d-\d\d,\d\d:\d\d:\d\d,2,0\n)";
  EXPECT_TRUE(std::regex_match(text, std::regex("Date,Time,%Vsz,%Cpu\n" + row + row))) << text;
  EXPECT_TRUE(test::logged(LOG_DEBUG, "Top: [" + own.substr(0, own.size() - 1) + "]"));
}

TEST(Environment, SelfMonitoringWithoutOwnLineWritesNothing) {
  test::DeviceRoot root;
  FakeTop top(root, "");
  const auto folder = root.dir() / "monitoring_self";
  test::clear_log();
  store_self_monitoring(folder.c_str());
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_FALSE(std::filesystem::exists(folder / "Trelvik_summary.csv"));
  EXPECT_TRUE(test::logged(LOG_DEBUG, "Did not find the correct pid.. " + std::to_string(getpid())));
  EXPECT_TRUE(test::logged(LOG_ERR, ", errno: None) Failed to get top for Trelvik"));
}

TEST(Environment, NoSensorsHeatersOrFansCreatesOnlyTheFolder) {
  test::DeviceRoot root;
  environment_settings() = EnvironmentSettings{};
  const auto folder = root.dir() / "monitoring_environment";
  store_temperatures_celsius(folder.c_str());
  store_heater_status(folder.c_str());
  store_fan_status(folder.c_str());
  ASSERT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_TRUE(std::filesystem::is_empty(folder));
}

}  // namespace
}  // namespace trelvik
