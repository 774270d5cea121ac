#include "lib/parse/kernel_memory.hpp"

#include "lib/parse/text.hpp"

namespace trelvik {
namespace {

constexpr int kTotalRow = 4;
// Far beyond any real free-block count; a longer run is held at this value.
constexpr std::int64_t kMaxCount = 9'999'999'999;

// The zone row of a line and where its counts begin; none for other zones.
std::optional<std::pair<int, std::size_t>> find_zone(std::string_view line) {
  if (const std::size_t at = line.find("DMA32"); at != std::string_view::npos) return std::pair{1, at + 5};
  // Scanning starts inside the name, which holds no digits.
  if (const std::size_t at = line.find("DMA"); at != std::string_view::npos) return std::pair{0, at + 1};
  if (const std::size_t at = line.find("Normal"); at != std::string_view::npos) return std::pair{2, at + 1};
  if (const std::size_t at = line.find("HighMem"); at != std::string_view::npos) return std::pair{3, at + 1};
  return std::nullopt;
}

std::int64_t read_count(std::string_view digits) {
  std::int64_t value = 0;
  for (const char c : digits) {
    value = value * 10 + (c - '0');
    if (value > kMaxCount) return kMaxCount;
  }
  return value;
}

}  // namespace

void parse_buddyinfo_line(std::string_view line, BuddyInfo& info) {
  const auto zone = find_zone(line);
  if (!zone) return;
  const auto [row, start] = *zone;
  int order = 0;
  std::size_t run = std::string_view::npos;
  for (std::size_t i = start; i < line.size(); ++i) {
    if (is_digit(line[i])) {
      if (run == std::string_view::npos) run = i;
      continue;
    }
    if (run == std::string_view::npos) continue;
    // A run counts only once a non-digit closes it: the line feed closes the last.
    if (order < kBuddyOrders) {
      const std::int64_t count = read_count(line.substr(run, i - run));
      info.pages[row][order] = count;
      info.pages[kTotalRow][order] += count;
      if (order > info.highestfield) info.highestfield = order;
    }
    ++order;
    run = std::string_view::npos;
  }
}

std::optional<std::string> parse_vmstat_line(std::string_view line, std::size_t max_digits) {
  const std::size_t blank = line.find(' ');
  if (blank == std::string_view::npos) return std::nullopt;
  std::string digits;
  for (std::size_t i = blank + 1; i < line.size() && digits.size() < max_digits && is_digit(line[i]); ++i) {
    digits += line[i];
  }
  return digits;
}

}  // namespace trelvik
