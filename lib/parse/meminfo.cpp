#include "lib/parse/meminfo.hpp"

#include "lib/parse/text.hpp"

namespace trelvik {
namespace {

// Lines were always read in pieces of at most 255 characters; the key of a
// longer line still names a file within a file name's 255 bytes.
constexpr std::size_t kMeminfoPiece = 255;

MeminfoLine parse_meminfo_line(std::string_view piece) {
  const std::string_view line = line_body(piece);
  const std::size_t colon = line.find(':');
  MeminfoLine entry;
  if (colon == std::string_view::npos || !names_a_file(line.substr(0, colon))) {
    entry.skipped = true;
    entry.text = line;
    return entry;
  }
  entry.text = line.substr(0, colon);
  const std::size_t digit = line.find_first_of("0123456789", colon);
  if (digit != std::string_view::npos) {
    const std::size_t blank = line.find(' ', digit);
    entry.value = line.substr(digit, blank == std::string_view::npos ? std::string_view::npos : blank - digit);
  }
  return entry;
}

}  // namespace

std::vector<MeminfoLine> parse_proc_meminfo(std::string_view text) {
  std::vector<MeminfoLine> lines;
  for (const std::string_view piece : split_lines(text, kMeminfoPiece)) lines.push_back(parse_meminfo_line(piece));
  return lines;
}

}  // namespace trelvik
