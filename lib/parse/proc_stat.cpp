#include "lib/parse/proc_stat.hpp"

#include <charconv>

#include "lib/parse/text.hpp"

namespace trelvik {
namespace {

constexpr std::string_view kSeparators = " \t:";

// Cuts the next field of `line` (runs of separators between fields).
std::string_view next_field(std::string_view& line) {
  const std::size_t begin = line.find_first_not_of(kSeparators);
  if (begin == std::string_view::npos) {
    line = {};
    return {};
  }
  line.remove_prefix(begin);
  const std::size_t end = std::min(line.find_first_of(kSeparators), line.size());
  const std::string_view field = line.substr(0, end);
  line.remove_prefix(end);
  return field;
}

std::string_view without_line_end(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  return line;
}

}  // namespace

NameValues parse_name_values(std::string_view text) {
  NameValues values;
  for (std::string_view line : split_lines(text)) {
    line = without_line_end(line);
    const std::string_view name = next_field(line);
    const std::string_view value = next_field(line);
    if (!value.empty()) values.insert_or_assign(std::string(name), std::string(value));
  }
  return values;
}

std::string_view value_of(const NameValues& values, std::string_view name) {
  const auto found = values.find(name);
  return found == values.end() ? std::string_view() : std::string_view(found->second);
}

std::optional<CpuTimes> parse_cpu_times(std::string_view stat_text) {
  for (std::string_view line : split_lines(stat_text)) {
    line = without_line_end(line);
    if (next_field(line) != "cpu") continue;
    CpuTimes times;
    std::uint64_t* slots[] = {&times.user,   &times.nice, &times.system,  &times.idle,
                              &times.iowait, &times.irq,  &times.softirq, &times.steal};
    for (std::uint64_t* slot : slots) {
      const std::string_view field = next_field(line);
      const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), *slot);
      if (field.empty() || error != std::errc() || end != field.data() + field.size()) {
        *slot = 0;
        break;
      }
      ++times.fields;
    }
    return times;
  }
  return std::nullopt;
}

std::string_view loadavg_line(std::string_view text) { return without_line_end(text.substr(0, text.find('\n'))); }

}  // namespace trelvik
