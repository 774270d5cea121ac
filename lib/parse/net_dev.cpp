#include "lib/parse/net_dev.hpp"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "lib/parse/text.hpp"

namespace trelvik {
namespace {

constexpr std::size_t npos = std::string_view::npos;

// Counters are unsigned 64-bit; the failure totals add them as 32-bit numbers.
std::uint32_t to_u32(std::string_view text) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < text.size() && is_digit(text[i]); ++i) {
    value = value * 10u + static_cast<std::uint32_t>(text[i] - '0');
  }
  return value;
}

std::uint64_t as_unsigned(std::int64_t value) { return static_cast<std::uint64_t>(value); }

// Bytes moved in both directions; the sum wraps instead of overflowing.
std::int64_t bytes_between(const NetSample& previous, const NetSample& current) {
  return static_cast<std::int64_t>(as_unsigned(current.receive) - as_unsigned(previous.receive) +
                                   as_unsigned(current.transmit) - as_unsigned(previous.transmit));
}

struct FailureRow {
  NetDevFailure failure;
  int code;
  std::string_view text;  // kNameCut's is followed by the name and "]"
};

// A cut between values has no line of its own.
constexpr FailureRow kFailures[] = {
    {NetDevFailure::kNone, 0, ""},
    {NetDevFailure::kNoNamesLine, 127, "parse_proc_net_dev FAILED 126\n"},
    {NetDevFailure::kNoNamesBar, 139, "parse_proc_net_dev FAILED 138\n"},
    {NetDevFailure::kNamesCut, 153, "parse_proc_net_dev FAILED 152\n"},
    {NetDevFailure::kNameCut, 166, "FAILED 163\nAttempted to find word stating at: ["},
    {NetDevFailure::kLineCutBetween, 236, ""},
    {NetDevFailure::kLineCutInside, 245, "FAILED 244\n"},
};

const FailureRow& failure_row(NetDevFailure failure) {
  return *std::find_if(std::begin(kFailures), std::end(kFailures),
                       [failure](const FailureRow& row) { return row.failure == failure; });
}

bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The kernel prints eight metrics per direction; ten leave room for more.
constexpr std::size_t kMaxMetricNames = 10;
constexpr int kMaxInterfaces = 10;

struct MetricNames {
  std::vector<std::string_view> receive, transmit;  // every name of each group, in header order
  bool split = false;                               // the bar before the transmit names was seen
};

// Reads the metric names from the second header line, whose groups are each
// introduced by "|". Returns kNone or the failure; `next` is where the
// interface lines begin.
NetDevFailure parse_metric_names(std::string_view text, MetricNames& names, std::size_t& next, std::size_t& failed_at) {
  const std::size_t first_end = text.find('\n');
  if (first_end == npos) return NetDevFailure::kNoNamesLine;
  const std::size_t line_end = text.find('\n', first_end + 1);
  const std::size_t limit = line_end == npos ? text.size() : line_end;
  const std::size_t bar = text.find('|', first_end + 1);
  if (bar == npos || bar >= limit) return NetDevFailure::kNoNamesBar;
  next = line_end == npos ? text.size() : line_end + 1;
  for (std::size_t pos = bar + 1; pos < limit;) {
    while (pos < limit && !is_alpha(text[pos]) && text[pos] != '|') ++pos;
    if (pos == limit) return line_end == npos ? NetDevFailure::kNamesCut : NetDevFailure::kNone;
    if (text[pos] == '|') {
      names.split = true;
      ++pos;
      continue;
    }
    std::size_t end = text.find_first_of(" |", pos);
    if (end == npos || end > limit) {
      if (line_end == npos) {
        failed_at = pos;
        return NetDevFailure::kNameCut;
      }
      end = limit;
    }
    (names.split ? names.transmit : names.receive).push_back(text.substr(pos, end - pos));
    pos = end;
  }
  return NetDevFailure::kNone;
}

// Enters counter number `index` of an interface line under its metric name;
// a value without a known name is dropped.
void add_counter(NetDevParse& result, const std::string& interface, const MetricNames& names, std::size_t index,
                 std::string_view value) {
  std::string key;
  if (index < names.receive.size()) {
    if (index >= kMaxMetricNames) return;
    key = "receive_";
    key += names.receive[index];
  } else {
    index -= names.receive.size();
    if (index >= names.transmit.size() || index >= kMaxMetricNames) return;
    key = "transmit_";
    key += names.transmit[index];
  }
  result.interfaces[interface][key] = value;
}

// One interface line: blanks, the name, ":" and the counters separated by
// blanks. A line without ":" is an interface without counters. Without a line
// feed the line was cut short, between values or inside one.
NetDevFailure parse_interface_line(std::string_view line, bool terminated, const MetricNames& names,
                                   NetDevParse& result) {
  std::size_t pos = line.find_first_not_of(' ');
  if (pos == npos) return terminated ? NetDevFailure::kNone : NetDevFailure::kLineCutBetween;
  const std::size_t colon = line.find(':', pos);
  if (colon == npos) return terminated ? NetDevFailure::kNone : NetDevFailure::kLineCutInside;
  const std::string interface(line.substr(pos, colon - pos));
  const bool keep = names_a_file(interface);
  std::size_t index = 0;
  for (pos = colon + 1;;) {
    while (pos < line.size() && !is_digit(line[pos])) ++pos;
    if (pos == line.size()) return terminated ? NetDevFailure::kNone : NetDevFailure::kLineCutBetween;
    std::size_t end = line.find(' ', pos);
    if (end == npos) {
      if (!terminated) return NetDevFailure::kLineCutInside;
      end = line.size();
    }
    if (keep) add_counter(result, interface, names, index, line.substr(pos, end - pos));
    ++index;
    pos = end;
  }
}

}  // namespace

NetDevParse parse_proc_net_dev(std::string_view text) {
  NetDevParse result;
  text = text.substr(0, text.find('\0'));
  MetricNames names;
  std::size_t pos = 0;
  result.failure = parse_metric_names(text, names, pos, result.failed_at);
  if (names.split) result.receive_metrics = static_cast<int>(std::min(names.receive.size(), kMaxMetricNames));
  if (result.failure != NetDevFailure::kNone) return result;
  for (int count = 0; count < kMaxInterfaces && pos < text.size(); ++count) {
    const std::size_t end = text.find('\n', pos);
    const bool terminated = end != npos;
    const std::string_view line = text.substr(pos, (terminated ? end : text.size()) - pos);
    result.failure = parse_interface_line(line, terminated, names, result);
    if (result.failure != NetDevFailure::kNone) {
      result.interfaces.clear();
      return result;
    }
    pos = terminated ? end + 1 : text.size();
  }
  return result;
}

int net_dev_failure_code(NetDevFailure failure) { return failure_row(failure).code; }

std::string net_dev_failure_text(const NetDevParse& parse, std::string_view text) {
  std::string line(failure_row(parse.failure).text);
  if (parse.failure == NetDevFailure::kNameCut) {
    const std::string_view name = text.substr(std::min(parse.failed_at, text.size()));
    (line += name.substr(0, name.find('\0'))) += ']';
  }
  return line;
}

std::string net_dev_header(const NetDevCounters& counters) {
  std::string header = "Date, Time, Receive: ";
  bool first = true;
  bool transmit = false;
  for (const auto& [key, value] : counters) {
    const bool is_transmit = key.starts_with("transmit_");
    if (is_transmit && !transmit) {
      header += ", Transmit: ";
      transmit = true;
    } else if (!first) {
      header += ", ";
    }
    header += std::string_view(key).substr(key.find('_') + 1);
    first = false;
  }
  header += ", Failed packages total (receive), Failed packages total (transmit)\n";
  return header;
}

std::string net_dev_row(const NetDevCounters& counters, std::string_view timestamp) {
  std::string row(timestamp);
  std::uint32_t receive_failed = 0;
  std::uint32_t transmit_failed = 0;
  for (const auto& [key, value] : counters) {
    row += ',';
    row += value;
    if (key == "receive_errs" || key == "receive_drop" || key == "receive_frame") {
      receive_failed += to_u32(value);
    } else if (key == "transmit_errs" || key == "transmit_drop") {
      transmit_failed += to_u32(value);
    }
  }
  row += ',' + std::to_string(receive_failed) + ',' + std::to_string(transmit_failed) + '\n';
  return row;
}

std::optional<std::string> network_rate_text(const NetSample& previous, const NetSample& current) {
  const auto seconds = static_cast<std::int32_t>(current.time - previous.time);
  const std::int64_t bytes = bytes_between(previous, current);
  std::int64_t per_second = 0;
  if (seconds == -1) {
    per_second = static_cast<std::int64_t>(0 - as_unsigned(bytes));  // the one quotient that could overflow
  } else if (seconds != 0) {
    per_second = bytes / seconds;
  }
  // 12,500 bytes per second are 0.1 Mbit/s; the rate is cut, not rounded, to a tenth.
  const std::int64_t tenths = per_second / 12500;
  const double mbit = static_cast<double>(tenths) / 10.0;
  if (mbit < 0.0) return std::nullopt;
  char text[100] = {};
  std::snprintf(text, sizeof text, "%.1f Mbit/s", mbit);
  return std::string(text);
}

}  // namespace trelvik
