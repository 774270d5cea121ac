// The few text primitives every parser of device text shares: the one line
// splitter, the one digit check and the line without its line feed.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace trelvik {

inline constexpr std::size_t kWholeLines = std::string_view::npos;

// The lines of `text`, each with its line feed (the last one may have none).
// With `max_piece`, a longer line comes as several pieces of at most that
// many characters, as a fixed-size line reader (fgets) would return them.
// The views point into `text`.
std::vector<std::string_view> split_lines(std::string_view text, std::size_t max_piece = kWholeLines);

// `line` up to its first line feed.
std::string_view line_body(std::string_view line);

// A key read from a device file that names a file in a collector's folder:
// one with a "/" would reach outside it.
constexpr bool names_a_file(std::string_view key) { return key.find('/') == std::string_view::npos; }

// An ASCII digit; never depends on the locale.
constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace trelvik
