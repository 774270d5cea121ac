#include "lib/parse/text.hpp"

#include <algorithm>

namespace trelvik {

std::vector<std::string_view> split_lines(std::string_view text, std::size_t max_piece) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::size_t length = std::min(end == std::string_view::npos ? text.size() : end + 1, max_piece);
    lines.push_back(text.substr(0, length));
    text.remove_prefix(length);
  }
  return lines;
}

std::string_view line_body(std::string_view line) { return line.substr(0, line.find('\n')); }

}  // namespace trelvik
