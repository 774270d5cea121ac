// The kernel's interface statistics (/proc/net/dev) as counters per interface.
#pragma once

#include <cstddef>
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

}  // namespace trelvik
