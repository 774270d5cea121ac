#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <regex>
#include <string>
#include <tuple>

#include "lib/collect/filehandler.hpp"
#include "tests/unit/support/test_support.hpp"

namespace trelvik {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSession = "/var/spool/storage/SD_DISK/Trelvik_ACCC8E000001/20261208_05_20_00";
constexpr const char* kHeader =
    "Inter-|   Receive                                                |  Transmit\n"
    " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs drop fifo colls "
    "carrier compressed\n";

// A session folder with the collector folders of this unit.
struct Session : test::DeviceRoot {
  std::string session = path(kSession).string();
  Session() {
    for (const char* name : {"monitoring_network", "monitoring_radar", "monitoring_load"}) {
      fs::create_directories(folder(name));
    }
  }
  fs::path folder(const std::string& name) const { return fs::path(session) / "system_monitoring" / name; }
};

TEST(NetDevCollector, ParseFailuresWriteNothing) {
  Session s;
  test::clear_log();
  store_proc_net_dev(s.session.c_str());
  EXPECT_TRUE(test::logged(LOG_ERR, "Could not open file '" + s.path("/proc/net/dev").string() + "'"));

  const std::string h = kHeader;
  const struct {
    std::string text;
    int code;
    std::string message;  // the line before "Error on parsing", if any
  } cases[] = {
      {"Inter-|", 127, "parse_proc_net_dev FAILED 126\n"},
      {"Inter-\n face\n", 139, "parse_proc_net_dev FAILED 138\n"},
      {"Inter-\n face |  ", 153, "parse_proc_net_dev FAILED 152\n"},
      {"Inter-\n face |bytes pac", 166, "FAILED 163\nAttempted to find word stating at: [pac]"},
      {h + "  eth0: 1 2", 245, ", errno: None) FAILED 244\n"},  // the last value has no end
      {h + "  eth0: 1 2 ", 236, ""},                            // cut while looking for a value
      {h, 0, ""},                                               // no interfaces at all
      {"Inter-|\n face |\n  eth0: 1\n", 0, ""},                 // no metric names
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(net_dev_failure_code(parse_proc_net_dev(c.text).failure), c.code);
    s.write("/proc/net/dev", c.text);
    test::clear_log();
    store_proc_net_dev(s.session.c_str());
    EXPECT_EQ(std::count_if(test::captured_log().begin(), test::captured_log().end(),
                            [](const test::LogLine& l) { return l.level == LOG_ERR; }),
              c.code == 0         ? 0
              : c.message.empty() ? 1
                                  : 2);
    EXPECT_TRUE(c.message.empty() || test::logged(LOG_ERR, c.message));
    EXPECT_TRUE(c.code == 0 || test::logged(LOG_ERR, ", errno: None) Error on parsing: " + std::to_string(c.code)));
    EXPECT_TRUE(fs::is_empty(s.folder("monitoring_network")));
  }
}

TEST(LoadCollector, FlagQuietsRepeatsUntilAGoodLine) {
  Session s;
  const std::string old_path = std::getenv("PATH");
  s.write("/bin/uptime", "#!/bin/sh\ncat '" + s.path("/uptime.txt").string() + "'\n");
  fs::permissions(s.path("/bin/uptime"), fs::perms::owner_all);
  setenv("PATH", (s.path("/bin").string() + ":" + old_path).c_str(), 1);
  const auto run = [&](const std::string& text) {
    s.write("/uptime.txt", text);
    store_load_avg_info_no_retention(s.session.c_str());
  };
  const auto complaints = [] {
    return std::count_if(test::captured_log().begin(), test::captured_log().end(), [](const test::LogLine& l) {
      return l.text.find("Unable to read the load") != std::string::npos;
    });
  };
  run(" 05:31:38 up 11 min,  0 users,  load average: 0.25, 0.19, 0.09\n");  // resets a flag left by other tests
  test::clear_log();
  run("garbage\n");
  run("garbage\n");
  EXPECT_EQ(complaints(), 1);
  run("");
  run("load average: 1.5, 1.0, 0.5\nsecond line\n");
  run("garbage\n");
  EXPECT_EQ(complaints(), 2);
  setenv("PATH", old_path.c_str(), 1);
  const std::regex stamp(R"(\d{4}-\d{2}-\d{2},\d{2}:\d{2}:\d{2})");
  EXPECT_EQ(std::regex_replace(test::read_file(s.folder("monitoring_load") / "load.csv"), stamp, "D,T"),
            "Date,Time,Load average (1 min),Load average (5 min),Load average (15 min)\r\n"
            "D,T,0.25,0.19,0.09\r\nD,T,,,\r\nD,T,1.5,1.0,0.5\r\n");
}

TEST(RadarCollector, DataOnceStatisticsEveryCall) {
  Session s;
  const fs::path radar = s.folder("monitoring_radar");
  s.write("/tmp/radar-diagnostics/radar_1.data", "first");
  s.write("/tmp/radar-diagnostics/instqual_lt_stats_1.csv", "a");
  s.write("/tmp/radar-diagnostics/other.txt", "x");
  store_radar_data(s.session.c_str());
  s.write("/tmp/radar-diagnostics/radar_1.data", "second");
  s.write("/tmp/radar-diagnostics/instqual_lt_stats_1.csv", "b");
  store_radar_data(s.session.c_str());
  EXPECT_EQ(test::read_file(radar / "radar_1.data"), "first");
  EXPECT_EQ(test::read_file(radar / "instqual_lt_stats_1.csv"), "b");
  EXPECT_FALSE(fs::exists(radar / "other.txt"));

  fs::remove_all(s.path("/tmp/radar-diagnostics"));
  test::clear_log();
  store_radar_data(s.session.c_str());
  EXPECT_TRUE(test::captured_log().empty());
}

// A session path that the shell must take as text: nothing in it may run.
TEST(ScriptAndReportSnapshots, HostileSessionPathStaysText) {
  test::DeviceRoot root;
  const std::string session =
      root.path("/var/spool/storage/SD/Trelvik_1/a \"b\" $(touch pwned) `touch pwned2` c\\d").string();
  const fs::path zeda = fs::path(session) / "system_monitoring/monitoring_zeda";
  const fs::path reports = fs::path(session) / "system_monitoring/monitoring_basic/Server_Reports";
  fs::create_directories(zeda);
  fs::create_directories(reports);
  root.write("/usr/local/packages/Trelvik/shell/zeda_status_monitor.sh",
             "#!/bin/sh\nprintf '%s' \"$1\" > \"$1/arg\"\n");
  fs::permissions(root.path("/usr/local/packages/Trelvik/shell/zeda_status_monitor.sh"), fs::perms::owner_all);
  // A stand-in for the device's curl that stores a report at its -o path.
  root.write("/usr/bin/curl",
             "#!/bin/sh\nwhile [ $# -gt 0 ]; do [ \"$1\" = -o ] && echo report > \"$2\"; shift; done\n");
  fs::permissions(root.path("/usr/bin/curl"), fs::perms::owner_all);

  zeda_monitor_status_snapshot(session.c_str());
  monitoring_session internal;
  internal.session_path = session;
  test::clear_log();
  create_serverreport_snapshot(internal, "root", "pass");

  for (int i = 0; i < 500 && !fs::exists(zeda / "arg"); ++i) usleep(10000);
  EXPECT_EQ(test::read_file(zeda / "arg"), zeda.string());
  EXPECT_EQ(std::distance(fs::directory_iterator(reports), fs::directory_iterator()), 1);
  EXPECT_TRUE(fs::exists(reports / "Server_Reports.zip"));
  EXPECT_TRUE(test::logged(LOG_INFO, "System Monitoring Session Storage Consumption on Internal Storage -> "));
  EXPECT_FALSE(fs::exists("pwned") || fs::exists("pwned2"));
}

}  // namespace
}  // namespace trelvik
