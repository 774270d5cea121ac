// The kernel's interface statistics (/proc/net/dev) as counters per
// interface, and the text of the network collector's rows made from them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace trelvik {

// One interface's counters: "receive_<metric>" or "transmit_<metric>" to the
// counter's text as the kernel prints it. Byte-wise key order is the column
// order of the interface's file.
using NetDevCounters = std::map<std::string, std::string>;

struct NetDevParse {
  int code = 0;                                      // 0, or the failure code of "Error on parsing: %d"
  std::size_t failed_at = 0;                         // code 166: where the metric name without an end begins
  std::map<std::string, NetDevCounters> interfaces;  // by name; only those with counters
  std::optional<int> receive_metrics;  // receive names kept, once the bar before the transmit names is seen
};

// Parses the text read to its end: at most 10 interface lines, every counter
// that has a metric name in the header (at most 10 names per direction);
// further values are ignored. A line cut short fails with code 236 or 245.
// An interface whose name holds "/" is left out.
NetDevParse parse_proc_net_dev(std::string_view text);

// The header line ("Date, Time, Receive: bytes, ...\n") and one row
// ("<timestamp>,<counters>,<rx failures>,<tx failures>\n") of an interface file.
std::string net_dev_header(const NetDevCounters& counters);
std::string net_dev_row(const NetDevCounters& counters, std::string_view timestamp);

struct NetSample {
  std::time_t time = 0;
  std::int64_t receive = 0;
  std::int64_t transmit = 0;
};
// "%.1f Mbit/s" for the eth0 traffic (both directions) between two samples,
// truncated to a tenth; nothing when it comes out negative (counter reset).
std::optional<std::string> network_rate_text(const NetSample& previous, const NetSample& current);

}  // namespace trelvik
