#include "lib/parse/proc_pid.hpp"

#include <charconv>
#include <cstdio>
#include <vector>

#include "lib/parse/text.hpp"

namespace trelvik {
namespace {

template <typename Number>
bool to_number(std::string_view text, Number& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

std::vector<std::string_view> blank_separated(std::string_view text) {
  std::vector<std::string_view> fields;
  while (true) {
    const std::size_t begin = text.find_first_not_of(" \t\n");
    if (begin == std::string_view::npos) return fields;
    text.remove_prefix(begin);
    const std::size_t end = std::min(text.find_first_of(" \t\n"), text.size());
    fields.push_back(text.substr(0, end));
    text.remove_prefix(end);
  }
}

// A process chooses its own name and arguments; a line feed among them must
// not split a snapshot's line, so every control byte shows as a blank.
std::string blanked(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  for (const char c : text) shown += static_cast<unsigned char>(c) < ' ' ? ' ' : c;
  return shown;
}

// Fields after the name, counted from the state (field 3 of the stat line).
enum StatField { kState = 0, kPpid = 1, kUtime = 11, kStime = 12, kNice = 16, kVsize = 20, kRss = 21 };

}  // namespace

std::optional<PidStat> parse_pid_stat(std::string_view text) {
  // The name is in parentheses and may hold both itself: it ends at the last ')'.
  const std::size_t open = text.find(" (");
  const std::size_t close = text.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) return std::nullopt;
  PidStat stat;
  if (!to_number(text.substr(0, open), stat.pid)) return std::nullopt;
  stat.comm = text.substr(open + 2, close - open - 2);
  const std::vector<std::string_view> fields = blank_separated(text.substr(close + 1));
  if (fields.size() <= kRss || fields[kState].size() != 1) return std::nullopt;
  stat.state = fields[kState][0];
  std::uint64_t utime = 0, stime = 0, vsize = 0;
  if (!to_number(fields[kPpid], stat.ppid) || !to_number(fields[kUtime], utime) || !to_number(fields[kStime], stime) ||
      !to_number(fields[kNice], stat.nice) || !to_number(fields[kVsize], vsize) ||
      !to_number(fields[kRss], stat.rss_pages)) {
    return std::nullopt;
  }
  stat.ticks = utime + stime;
  stat.vsize_kib = vsize / 1024;
  return stat;
}

std::optional<unsigned> parse_status_uid(std::string_view text) {
  for (std::string_view line : split_lines(text)) {
    if (!line.starts_with("Uid:")) continue;
    const std::vector<std::string_view> ids = blank_separated(line.substr(4));
    unsigned uid = 0;
    if (ids.size() >= 2 && to_number(ids[1], uid)) return uid;
    return std::nullopt;
  }
  return std::nullopt;
}

std::string process_command(std::string_view cmdline, std::string_view comm, std::size_t width) {
  while (!cmdline.empty() && cmdline.back() == '\0') cmdline.remove_suffix(1);
  std::string text;
  if (cmdline.empty()) {
    text = "[" + blanked(comm) + "]";
  } else {
    // The base name of the program (the first argument up to a blank: a
    // rewritten "process foo/bar" is not a path); a login shell's "-" aside.
    std::string_view program = cmdline.substr(0, std::min(cmdline.find('\0'), cmdline.find(' ')));
    program.remove_prefix(program.rfind('/') == std::string_view::npos ? 0 : program.rfind('/') + 1);
    if (program.starts_with('-')) program.remove_prefix(1);
    if (!program.starts_with(comm)) text = "{" + blanked(comm) + "} ";
    text += blanked(cmdline);
  }
  if (text.size() > width) text.resize(width);
  return text;
}

std::string top_vsz_column(std::uint64_t kib) {
  char column[32];
  if (kib <= 99999) {
    std::snprintf(column, sizeof column, "%7llu", static_cast<unsigned long long>(kib));
    return column;
  }
  // Tenths of the first unit that brings the number below 100000: " 159m",
  // "1447g", or with its tenth below 100 ("52.6g").
  constexpr const char* kUnits = " mgtpezy";
  unsigned long long tenths = kib * 10;
  int unit = 0;
  do {
    tenths /= 1024;
    ++unit;
  } while (tenths >= 100000);
  const unsigned long long whole = tenths / 10;
  if (whole >= 100) {
    std::snprintf(column, sizeof column, "  %4llu%c", whole, kUnits[unit]);
  } else {
    std::snprintf(column, sizeof column, "  %2llu.%llu%c", whole, tenths % 10, kUnits[unit]);
  }
  return column;
}

}  // namespace trelvik
