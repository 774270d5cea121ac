// Lines printed by the device's tools: df, du, uptime and top (busybox).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace trelvik {

// Usage in percent read from df's partition line: up to three digits before
// the first "%", never the line's first character. Nothing when the line
// holds no "%".
std::optional<int> df_line_use_pcent(std::string_view line);

// The number at the start of du's last line times 1024; 0 without one.
std::uint64_t parse_du_kib(const std::string& last_line);

struct LoadAverage {
  std::string one, five, fifteen;
};
// The three texts after "average:" in uptime's first line (its first 99
// characters); nothing without "average:".
std::optional<LoadAverage> parse_load_average(std::string_view first_line);

// The first "top" line whose first field is the number `pid`.
std::optional<std::string> find_top_line(const std::vector<std::string>& lines, long pid);
// %VSZ and %CPU of a "top" process line: the digits before its first two "%".
std::optional<std::pair<int, int>> parse_top_percentages(std::string_view line);

}  // namespace trelvik
