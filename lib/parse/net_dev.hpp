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

// Why a text could not be parsed. Each has its row: the number the
// collector logs in "Error on parsing: %d" and the line it logs before that.
enum class NetDevFailure {
  kNone,
  kNoNamesLine,     // the first header line has no end
  kNoNamesBar,      // the second header line has no "|"
  kNamesCut,        // the second header line ends without a line feed after its names
  kNameCut,         // ... inside a metric name
  kLineCutBetween,  // an interface line without a line feed, cut between values
  kLineCutInside,   // ... inside the name or a value
};

struct NetDevParse {
  NetDevFailure failure = NetDevFailure::kNone;
  std::size_t failed_at = 0;                         // kNameCut: where the metric name without an end begins
  std::map<std::string, NetDevCounters> interfaces;  // by name; only those with counters
  std::optional<int> receive_metrics;  // receive names kept, once the bar before the transmit names is seen
};

// Parses the text read to its end: at most 10 interface lines, every counter
// that has a metric name in the header (at most 10 names per direction);
// further values are ignored. A line cut short fails (kLineCut...).
// An interface whose name holds "/" is left out.
NetDevParse parse_proc_net_dev(std::string_view text);

// The number of "Error on parsing: %d" (0 for kNone).
int net_dev_failure_code(NetDevFailure failure);
// The line logged before it, empty for none: the text of kNameCut shows
// `text` (the parsed text) from the name that has no end.
std::string net_dev_failure_text(const NetDevParse& parse, std::string_view text);

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
