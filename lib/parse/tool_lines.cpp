#include "lib/parse/tool_lines.hpp"

#include <charconv>

#include "lib/parse/text.hpp"

namespace trelvik {

std::optional<int> df_line_use_pcent(std::string_view line) {
  std::size_t position = line.find('%');
  if (position == std::string_view::npos) return std::nullopt;
  int value = 0;
  int scale = 1;
  // At most three digits: a usage field of four digits counts from its last
  // three. The line's first character is never part of the number.
  for (int taken = 0; taken < 3 && position >= 2; ++taken, --position) {
    const char c = line[position - 1];
    if (!is_digit(c)) break;
    value += (c - '0') * scale;
    scale *= 10;
  }
  return value;
}

std::uint64_t parse_du_kib(const std::string& last_line) {
  long long kib = 0;
  const char* begin = last_line.data();
  const auto [end, error] = std::from_chars(begin, begin + last_line.size(), kib);
  if (error != std::errc() || end == begin || kib < 0) return 0;
  return static_cast<std::uint64_t>(kib) * 1024;
}

namespace {

// Only the first 99 characters of uptime's first line are read.
constexpr std::size_t kUptimeLine = 99;

// Each text starts after "average:" or a comma, less one blank if there is one.
std::string_view skip_one_blank(std::string_view text) {
  if (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  return text;
}

}  // namespace

std::optional<LoadAverage> parse_load_average(std::string_view first_line) {
  const std::string_view line = line_body(first_line.substr(0, kUptimeLine));
  const std::size_t at = line.find("average:");
  if (at == std::string_view::npos) return std::nullopt;
  const std::string_view rest = skip_one_blank(line.substr(at + 8));
  const std::size_t first = rest.find(',');
  if (first == std::string_view::npos) return LoadAverage{std::string(rest), std::string(rest), std::string(rest)};
  LoadAverage load;
  load.one = rest.substr(0, first);
  const std::string_view after = skip_one_blank(rest.substr(first + 1));
  const std::size_t second = after.find(',');
  if (second == std::string_view::npos) {
    load.five = after;
    load.fifteen = load.one;
  } else {
    load.five = after.substr(0, second);
    load.fifteen = skip_one_blank(after.substr(second + 1));
  }
  return load;
}

std::optional<std::string> find_top_line(const std::vector<std::string>& lines, long pid) {
  for (const std::string& line : lines) {
    // Only a line that begins with its number is a process line: the "Mem:"
    // line of busybox top also starts with a figure after its label.
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos) continue;
    long number = -1;
    const auto [end, error] = std::from_chars(line.data() + first, line.data() + line.size(), number);
    if (error != std::errc() || line.data() + first == end || line[first] == '-') continue;
    if (number == pid) return line;
  }
  return std::nullopt;
}

namespace {
// The run of digits directly before `percent` (0 without one).
int figure_before(std::string_view line, std::size_t percent) {
  std::size_t begin = percent;
  while (begin > 0 && is_digit(line[begin - 1])) --begin;
  int value = 0;
  std::from_chars(line.data() + begin, line.data() + percent, value);
  return value;
}
}  // namespace

std::optional<std::pair<int, int>> parse_top_percentages(std::string_view line) {
  const std::size_t first = line.find('%');
  if (first == std::string_view::npos) return std::nullopt;
  const std::size_t second = line.find('%', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  return std::pair{figure_before(line, first), figure_before(line, second)};
}

}  // namespace trelvik
