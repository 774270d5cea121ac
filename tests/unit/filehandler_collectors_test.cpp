#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <string>

#include "lib/filehandler.hpp"
#include "tests/unit/support/test_support.hpp"

namespace trelvik {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSession = "/var/spool/storage/SD_DISK/Trelvik_ACCC8E000001/20261208_05_20_00";
constexpr const char* kHeader =
    "Inter-|   Receive                                                |  Transmit\n"
    " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs drop fifo colls "
    "carrier compressed\n";
constexpr const char* kStandardHeader =
    "Date, Time, Receive: bytes, compressed, drop, errs, fifo, frame, multicast, packets, Transmit: bytes, carrier, "
    "colls, compressed, drop, errs, fifo, packets, Failed packages total (receive), Failed packages total "
    "(transmit)\n";

// Rows start with a timestamp that cannot repeat.
std::string masked(const std::string& text) {
  static const std::regex stamp(R"(\d{4}-\d{2}-\d{2},\d{2}:\d{2}:\d{2})");
  return std::regex_replace(text, stamp, "D,T");
}

// A session folder with every collector folder of this unit.
struct Session {
  test::DeviceRoot root;
  std::string path = root.path(kSession).string();
  Session() {
    for (const char* name : {"monitoring_network", "monitoring_streams", "monitoring_radar", "monitoring_meminfo",
                             "monitoring_load", "monitoring_basic/Server_Reports"}) {
      fs::create_directories(folder(name));
    }
  }
  fs::path folder(const std::string& name) const { return fs::path(path) / "system_monitoring" / name; }
  std::string read(const std::string& name, const std::string& file) const {
    return masked(test::read_file(folder(name) / file));
  }
};

// Puts a folder of stand-in tools first on PATH for the life of the object.
class FakeTools {
 public:
  explicit FakeTools(const fs::path& dir) : dir_(dir), old_(std::getenv("PATH")) {
    fs::create_directories(dir);
    setenv("PATH", (dir.string() + ":" + old_).c_str(), 1);
  }
  ~FakeTools() { setenv("PATH", old_.c_str(), 1); }
  void add(const std::string& name, const std::string& body) const {
    test::write_file(dir_ / name, "#!/bin/sh\n" + body);
    fs::permissions(dir_ / name, fs::perms::owner_all);
  }

 private:
  fs::path dir_;
  std::string old_;
};

TEST(NetDevParse, ReadsWholeFileUpToTenInterfaces) {
  const NetDevParse eight = parse_proc_net_dev(test::fixture("collectors/net_dev_8_interfaces.txt"));
  ASSERT_EQ(eight.code, 0);
  ASSERT_EQ(eight.interfaces.size(), 8u);
  const NetDevCounters& br0 = eight.interfaces.at("br0");  // the eighth line, past 1023 bytes
  EXPECT_EQ(br0.size(), 16u);
  EXPECT_EQ(br0.at("receive_bytes"), "77");
  EXPECT_EQ(eight.interfaces.at("eth0").at("transmit_bytes"), "98731520114");
  EXPECT_EQ(eight.interfaces.at("eth0").at("receive_multicast"), "20993");

  const NetDevParse twelve = parse_proc_net_dev(test::fixture("collectors/net_dev_12_interfaces.txt"));
  EXPECT_EQ(twelve.code, 0);
  EXPECT_EQ(twelve.interfaces.size(), 10u);
  EXPECT_TRUE(twelve.interfaces.count("veth1"));
  EXPECT_FALSE(twelve.interfaces.count("veth2"));
}

TEST(NetDevParse, OddLinesAndHeaders) {
  // Extra values, a line without ":", an old kernel's "name:value", a name
  // that would leave the folder, and a NUL that ends the text.
  const NetDevParse odd = parse_proc_net_dev(std::string(kHeader) +
                                             "  eth0: 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19\n"
                                             "  noise without colon\n"
                                             "eth1:12345678901 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\n"
                                             "  ../x: 1 2\n"
                                             "  eth2: 1\n" +
                                             std::string(1, '\0') + "  eth3: 1\n");
  ASSERT_EQ(odd.code, 0);
  EXPECT_EQ(odd.interfaces.size(), 3u);
  EXPECT_EQ(odd.interfaces.at("eth0").size(), 16u);
  EXPECT_EQ(odd.interfaces.at("eth0").at("transmit_compressed"), "16");
  EXPECT_EQ(odd.interfaces.at("eth1").at("receive_bytes"), "12345678901");
  EXPECT_EQ(odd.interfaces.at("eth2").size(), 1u);

  // Twelve receive names: ten are kept, and the transmit values still line up.
  const NetDevParse wide =
      parse_proc_net_dev("Inter-|\n face |a b c d e f g h i j k l|tx\n  eth0: 1 2 3 4 5 6 7 8 9 10 11 12 13\n");
  ASSERT_EQ(wide.code, 0);
  EXPECT_EQ(wide.interfaces.at("eth0").size(), 11u);
  EXPECT_EQ(wide.interfaces.at("eth0").at("receive_j"), "10");
  EXPECT_EQ(wide.interfaces.at("eth0").at("transmit_tx"), "13");
  EXPECT_EQ(wide.receive_metrics, 10);

  // Without the bar before the transmit names every name is a receive name.
  const NetDevParse single = parse_proc_net_dev("Inter-|\n face |bytes packets\n  eth0: 1 2 3\n");
  ASSERT_EQ(single.code, 0);
  EXPECT_EQ(single.interfaces.at("eth0"), (NetDevCounters{{"receive_bytes", "1"}, {"receive_packets", "2"}}));
  EXPECT_FALSE(single.receive_metrics.has_value());
}

TEST(NetDevFile, HeaderAndRowBytes) {
  const NetDevParse parse = parse_proc_net_dev(test::fixture("collectors/net_dev_8_interfaces.txt"));
  const NetDevCounters& eth0 = parse.interfaces.at("eth0");
  EXPECT_EQ(net_dev_header(eth0), kStandardHeader);
  EXPECT_EQ(net_dev_row(eth0, "2026-12-06,18:48:53"),
            "2026-12-06,18:48:53,3148912305,0,12,3,0,1,20993,4113587,98731520114,0,0,0,5,0,0,70551904,16,5\n");
  // The failure totals are 32-bit sums.
  const NetDevCounters wrapping{{"receive_drop", "4294967295"}, {"receive_errs", "2"}, {"transmit_drop", "7"}};
  EXPECT_EQ(net_dev_row(wrapping, "T"), "T,4294967295,2,7,1,7\n");
  EXPECT_EQ(net_dev_header({{"transmit_bytes", "1"}, {"transmit_drop", "2"}}),
            "Date, Time, Receive: , Transmit: bytes, drop, Failed packages total (receive), Failed packages total "
            "(transmit)\n");
}

TEST(NetDevRate, TruncatedTenthsOfMbit) {
  const NetSample start{1000, 500, 500};
  struct Case {
    std::time_t seconds;
    std::int64_t bytes;
    const char* text;  // null: no row
  } cases[] = {
      {60, 750'000'000, "100.0 Mbit/s"}, {1, 12'499, "0.0 Mbit/s"}, {1, 12'500, "0.1 Mbit/s"},
      {1, 24'999, "0.1 Mbit/s"},         {0, 99'999, "0.0 Mbit/s"}, {10, -124'999, "0.0 Mbit/s"},
      {10, -125'000, nullptr},           {-1, 12'500, nullptr},     {-1, -12'500, "0.1 Mbit/s"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    const NetSample now{start.time + c.seconds, start.receive + c.bytes / 2, start.transmit + c.bytes - c.bytes / 2};
    const auto text = network_rate_text(start, now);
    if (c.text == nullptr) {
      EXPECT_FALSE(text);
    } else {
      EXPECT_EQ(text, c.text);
    }
  }
  // Counters at the ends of the range wrap instead of overflowing.
  EXPECT_EQ(network_rate_text({0, INT64_MIN, INT64_MIN}, {-1, INT64_MAX, INT64_MAX}), "0.0 Mbit/s");
}

TEST(StreamEntries, ReplyLines) {
  const std::string long_value(250, 'v');
  struct Case {
    std::string output;
    std::string cell;
  } cases[] = {
      {"", "No streams "},
      {"      string \"abc\"\n      string \"def\"\n", " abc + def "},
      {"      string \"\"\n", "  "},
      {"      string\n", ""},  // ends where the value should begin
      {"      string \n", ""},
      {"no marker\n", "no marker"},
      {"Error org.freedesktop.DBus.Error: string x\n", "Error: Failed to get stream info+x"},
      // A line longer than a read is continued as a further entry.
      {"string \"" + long_value + "\"\n", " " + long_value.substr(0, 191) + "+" + long_value.substr(191) + " "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output);
    EXPECT_EQ(stream_entries(c.output), c.cell);
  }
}

TEST(MeminfoParse, KeysValuesAndSkips) {
  const std::string long_line = "Long:" + std::string(260, ' ') + "5 kB\n";
  const auto lines = parse_proc_meminfo(
      "MemTotal:        1012508 kB\nHugePages_Total:       0\nno colon here\n"
      "Empty:\nActive(anon):  42 kB\nx/../y: 1 kB\n" +
      long_line);
  struct Want {
    bool skipped;
    const char* text;
    const char* value;
  } want[] = {
      {false, "MemTotal", "1012508"},
      {false, "HugePages_Total", "0"},
      {true, "no colon here", ""},
      {false, "Empty", ""},
      {false, "Active(anon)", "42"},
      {true, "x/../y: 1 kB", ""},
      {false, "Long", ""},
      {true, "          5 kB", ""},
  };
  ASSERT_EQ(lines.size(), std::size(want));
  for (std::size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(lines[i].skipped, want[i].skipped);
    EXPECT_EQ(lines[i].text, want[i].text);
    EXPECT_EQ(lines[i].value, want[i].value);
  }
}

TEST(LoadAverageParse, UptimeLines) {
  struct Case {
    std::string line;
    bool found;
    const char *one, *five, *fifteen;
  } cases[] = {
      {" 05:31:38 up 11 min,  0 users,  load average: 0.25, 0.19, 0.09\n", true, "0.25", "0.19", "0.09"},
      {"up 3 days,  load average:0.52,0.58,0.59", true, "0.52", "0.58", "0.59"},
      {"load average: \n", true, "", "", ""},
      {"load average: 1.00\n", true, "1.00", "1.00", "1.00"},
      {"load average: 1.00, 2.00\n", true, "1.00", "2.00", "1.00"},
      {"no load here\n", false, "", "", ""},
      {std::string(95, ' ') + "load average: 1, 2, 3\n", false, "", "", ""},  // cut after 99 characters
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const auto load = parse_load_average(c.line);
    ASSERT_EQ(load.has_value(), c.found);
    if (!load) continue;
    EXPECT_EQ(load->one, c.one);
    EXPECT_EQ(load->five, c.five);
    EXPECT_EQ(load->fifteen, c.fifteen);
  }
}

// Cut or malformed files: the code, its own message, and nothing written.
TEST(NetDevCollector, ParseFailuresWriteNothing) {
  Session s;
  const fs::path folder = s.folder("monitoring_network");
  test::clear_log();
  store_proc_net_dev(s.path.c_str());
  EXPECT_TRUE(test::logged(LOG_ERR, "Could not open file '" + s.root.path("/proc/net/dev").string() + "'"));

  const std::string h = kHeader;
  struct Case {
    std::string text;
    int code;
    std::string message;  // the line before "Error on parsing", if any
  } cases[] = {
      {"Inter-|", 127, "parse_proc_net_dev FAILED 126\n"},
      {"Inter-\n face\n", 139, "parse_proc_net_dev FAILED 138\n"},
      {"Inter-\n face |  ", 153, "parse_proc_net_dev FAILED 152\n"},
      {"Inter-\n face |bytes pac", 166, "FAILED 163\nAttempted to find word stating at: [pac]"},
      {h + "  eth0: 1 2", 245, ", errno: None) FAILED 244\n"},  // the last value has no end
      {h + "  eth0", 245, "FAILED 244\n"},                      // cut inside the name
      {h + "  eth0: 1 2 ", 236, ""},                            // cut while looking for the next value
      {h + "   ", 236, ""},                                     // cut while looking for a name
      {h, 0, ""},                                               // no interfaces at all
      {"Inter-|\n face |\n  eth0: 1\n", 0, ""},                 // no metric names
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parse_proc_net_dev(c.text).code, c.code);
    s.root.write("/proc/net/dev", c.text);
    test::clear_log();
    store_proc_net_dev(s.path.c_str());
    const auto errors = std::count_if(test::captured_log().begin(), test::captured_log().end(),
                                      [](const test::LogLine& l) { return l.level == LOG_ERR; });
    EXPECT_EQ(errors, c.code == 0 ? 0 : c.message.empty() ? 1 : 2);
    EXPECT_TRUE(c.message.empty() || test::logged(LOG_ERR, c.message));
    EXPECT_TRUE(c.code == 0 || test::logged(LOG_ERR, ", errno: None) Error on parsing: " + std::to_string(c.code)));
    EXPECT_TRUE(fs::is_empty(folder));
  }
  EXPECT_EQ(parse_proc_net_dev("x\n face |bytes packets").failed_at, std::string("x\n face |bytes ").size());
  EXPECT_EQ(parse_proc_net_dev(h).receive_metrics, 8);

  s.root.write("/proc/net/dev", h + "  eth1: 1 2\n");
  fs::remove(folder);
  test::clear_log();
  store_proc_net_dev(s.path.c_str());
  // Each counter of the interface tries the file once more.
  EXPECT_EQ(
      std::count_if(test::captured_log().begin(), test::captured_log().end(),
                    [](const test::LogLine& l) { return l.text.find("Could not open file") != std::string::npos; }),
      2);
}

TEST(MeminfoCollector, NewKeyMidSession) {
  Session s;
  s.root.write("/proc/meminfo", "MemTotal:        1012508 kB\nbroken line\n");
  store_proc_meminfo(s.path.c_str());
  s.root.write("/proc/meminfo", "MemTotal:        1012000 kB\nHugePages_Total:       0\n");
  test::clear_log();
  store_proc_meminfo(s.path.c_str());
  EXPECT_EQ(s.read("monitoring_meminfo", "MemTotal.csv"),
            "Date,Time,Memory MemTotal (kB)\r\nD,T,1012508\r\nD,T,1012000\r\n");
  EXPECT_EQ(s.read("monitoring_meminfo", "HugePages_Total.csv"), "Date,Time,Memory HugePages_Total (kB)\r\nD,T,0\r\n");
  EXPECT_FALSE(test::logged(LOG_WARNING, "Skipping"));
}

TEST(LoadCollector, FlagQuietsRepeatsUntilAGoodLine) {
  Session s;
  FakeTools tools(s.root.dir() / "bin");
  const fs::path reply = s.root.dir() / "uptime.txt";
  tools.add("uptime", "cat '" + reply.string() + "'\n");
  const auto run = [&](const std::string& text) {
    test::write_file(reply, text);
    store_load_avg_info_no_retention(s.path.c_str());
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
  EXPECT_EQ(s.read("monitoring_load", "load.csv"),
            "Date,Time,Load average (1 min),Load average (5 min),Load average (15 min)\r\n"
            "D,T,0.25,0.19,0.09\r\nD,T,,,\r\nD,T,1.5,1.0,0.5\r\n");
}

TEST(StreamCollector, RowAndNoCommandWithoutFile) {
  Session s;
  FakeTools tools(s.root.dir() / "bin");
  const fs::path marker = s.root.dir() / "ran";
  tools.add("dbus-send", "touch '" + marker.string() +
                             "'\nprintf 'method return\\n   array [\\n"
                             "      string \"def\"\\n      string \"abc\"\\n   ]\\n'\n");
  store_video_stream_history_no_retention(s.path.c_str());
  EXPECT_EQ(s.read("monitoring_streams", "stream.csv"), "Date,Time,Streams\r\nD,T, abc + def \r\n");

  fs::remove_all(s.folder("monitoring_streams"));
  fs::remove(marker);
  test::clear_log();
  store_video_stream_history_no_retention(s.path.c_str());
  EXPECT_TRUE(test::logged(LOG_ERR, "Could not open file '"));
  EXPECT_FALSE(fs::exists(marker));
}

TEST(RadarCollector, DataOnceStatisticsEveryCall) {
  Session s;
  const fs::path radar = s.folder("monitoring_radar");
  s.root.write("/tmp/radar-diagnostics/radar_1.data", "first");
  s.root.write("/tmp/radar-diagnostics/instqual_lt_stats_1.csv", "a");
  s.root.write("/tmp/radar-diagnostics/other.txt", "x");
  store_radar_data(s.path.c_str());
  s.root.write("/tmp/radar-diagnostics/radar_1.data", "second");
  s.root.write("/tmp/radar-diagnostics/instqual_lt_stats_1.csv", "b");
  store_radar_data(s.path.c_str());
  EXPECT_EQ(test::read_file(radar / "radar_1.data"), "first");
  EXPECT_EQ(test::read_file(radar / "instqual_lt_stats_1.csv"), "b");
  EXPECT_FALSE(fs::exists(radar / "other.txt"));

  // The radar folder is a file: the existence test fails for another reason.
  fs::remove_all(radar);
  test::write_file(radar, "");
  test::clear_log();
  store_radar_data(s.path.c_str());
  EXPECT_TRUE(
      test::logged(LOG_WARNING, "access() failed for " + (radar / "radar_1.data").string() + ": Not a directory"));

  fs::remove_all(s.root.path("/tmp/radar-diagnostics"));
  test::clear_log();
  store_radar_data(s.path.c_str());
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
  EXPECT_TRUE(fs::exists(reports / "Server_Reports.zip"));
  EXPECT_EQ(std::distance(fs::directory_iterator(reports), fs::directory_iterator()), 1);
  EXPECT_TRUE(test::logged(LOG_INFO, "System Monitoring Session Storage Consumption on Internal Storage -> "));
  EXPECT_FALSE(fs::exists(fs::current_path() / "pwned"));
  EXPECT_FALSE(fs::exists(fs::current_path() / "pwned2"));
}

}  // namespace
}  // namespace trelvik
