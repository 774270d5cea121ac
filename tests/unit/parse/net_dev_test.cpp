#include "lib/parse/net_dev.hpp"

#include <gtest/gtest.h>

#include <string>

#include "tests/unit/support/test_support.hpp"

namespace trelvik {
namespace {

// The kernel's two header lines, as captured.
std::string header() {
  const std::string text = test::fixture("collectors/net_dev_8_interfaces.txt");
  return text.substr(0, text.find('\n', text.find('\n') + 1) + 1);
}

TEST(NetDev, UpToTenInterfacesAndOddLines) {
  const NetDevParse twelve = parse_proc_net_dev(test::fixture("collectors/net_dev_12_interfaces.txt"));
  EXPECT_EQ(twelve.interfaces.size(), 10u);
  EXPECT_TRUE(twelve.interfaces.count("veth1") && !twelve.interfaces.count("veth2"));

  // Extra values, a line without ":", an old kernel's "name:value", a name
  // that would leave the folder, and a NUL that ends the text.
  const NetDevParse odd = parse_proc_net_dev(header() +
                                             "  eth0: 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19\n"
                                             "  noise without colon\n"
                                             "eth1:12345678901 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\n"
                                             "  ../x: 1 2\n"
                                             "  eth2: 1\n" +
                                             std::string(1, '\0') + "  eth3: 1\n");
  ASSERT_EQ(odd.failure, NetDevFailure::kNone);
  EXPECT_EQ(odd.interfaces.size(), 3u);
  EXPECT_EQ(odd.interfaces.at("eth0").size(), 16u);
  EXPECT_EQ(odd.interfaces.at("eth0").at("transmit_compressed"), "16");
  EXPECT_EQ(odd.interfaces.at("eth1").at("receive_bytes"), "12345678901");
  EXPECT_EQ(odd.interfaces.at("eth2").size(), 1u);

  // Twelve receive names: ten are kept, and the transmit values still line up.
  const NetDevParse wide =
      parse_proc_net_dev("Inter-|\n face |a b c d e f g h i j k l|tx\n  eth0: 1 2 3 4 5 6 7 8 9 10 11 12 13\n");
  EXPECT_EQ(wide.interfaces.at("eth0").size(), 11u);
  EXPECT_EQ(wide.interfaces.at("eth0").at("receive_j"), "10");
  EXPECT_EQ(wide.interfaces.at("eth0").at("transmit_tx"), "13");
  // Without the bar before the transmit names every name is a receive name.
  const NetDevParse single = parse_proc_net_dev("Inter-|\n face |bytes packets\n  eth0: 1 2 3\n");
  EXPECT_EQ(single.interfaces.at("eth0"), (NetDevCounters{{"receive_bytes", "1"}, {"receive_packets", "2"}}));
}

TEST(NetDev, FailureRows) {
  // A name cut by the end of the text (or by a NUL) is shown up to there.
  const std::string cut = std::string("Inter-|\n face |bytes pa\0c", 25);
  const NetDevParse parse = parse_proc_net_dev(cut);
  EXPECT_EQ(parse.failure, NetDevFailure::kNameCut);
  EXPECT_EQ(net_dev_failure_text(parse, cut), "FAILED 163\nAttempted to find word stating at: [pa]");
  EXPECT_EQ(net_dev_failure_code(parse.failure), 166);
  EXPECT_EQ(net_dev_failure_code(NetDevFailure::kNone), 0);
  EXPECT_EQ(net_dev_failure_text(NetDevParse{}, cut), "");
}

TEST(NetDevFiles, HeaderAndRowOfAnInterface) {
  // The failure totals are 32-bit sums; a header has only the names present.
  const NetDevCounters wrapping{{"receive_drop", "4294967295"}, {"receive_errs", "2"}, {"transmit_drop", "7"}};
  EXPECT_EQ(net_dev_row(wrapping, "T"), "T,4294967295,2,7,1,7\n");
  EXPECT_EQ(net_dev_header({{"transmit_bytes", "1"}, {"transmit_drop", "2"}}),
            "Date, Time, Receive: , Transmit: bytes, drop, Failed packages total (receive), Failed packages total "
            "(transmit)\n");
}

TEST(NetDevRate, TruncatedTenthsOfMbit) {
  const NetSample start{1000, 500, 500};
  const struct {
    std::time_t seconds;
    std::int64_t bytes;
    std::optional<std::string> text;  // none: no row
  } cases[] = {
      {60, 750'000'000, "100.0 Mbit/s"},
      {1, 12'499, "0.0 Mbit/s"},
      {1, 12'500, "0.1 Mbit/s"},
      {1, 24'999, "0.1 Mbit/s"},
      {0, 99'999, "0.0 Mbit/s"},
      {10, -124'999, "0.0 Mbit/s"},
      {10, -125'000, {}},
      {-1, 12'500, {}},
      {-1, -12'500, "0.1 Mbit/s"},
  };
  for (const auto& c : cases) {
    const NetSample now{start.time + c.seconds, start.receive + c.bytes / 2, start.transmit + c.bytes - c.bytes / 2};
    EXPECT_EQ(network_rate_text(start, now), c.text) << c.bytes;
  }
  // Counters at the ends of the range wrap instead of overflowing.
  EXPECT_EQ(network_rate_text({0, INT64_MIN, INT64_MIN}, {-1, INT64_MAX, INT64_MAX}), "0.0 Mbit/s");
}

}  // namespace
}  // namespace trelvik
