#include "lib/parse/streams.hpp"

#include <algorithm>

#include "lib/parse/text.hpp"

namespace trelvik {
namespace {

// The value of a reply line: what follows "string" and one more character,
// with the value's quotes already turned into blanks; empty when the line
// ends before that.
std::string_view stream_value(std::string_view line) {
  const std::size_t at = line.find("string");
  if (at == std::string_view::npos) return line;
  const std::size_t start = at + 7;
  return start <= line.size() ? line.substr(start) : std::string_view();
}

}  // namespace

std::string stream_entries(std::string_view output) {
  std::string cell;
  int entries = 0;
  for (const std::string_view piece : split_lines(output)) {
    if (piece.starts_with("Error ")) {
      cell += "Error: Failed to get stream info";
      ++entries;
    }
    std::string line(line_body(piece));
    std::replace(line.begin(), line.end(), '"', ' ');
    if (entries > 0) cell += '+';
    cell += stream_value(line);
    ++entries;
  }
  if (entries == 0) cell = "No streams ";
  return cell;
}

}  // namespace trelvik
