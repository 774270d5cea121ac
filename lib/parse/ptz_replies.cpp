#include "lib/parse/ptz_replies.hpp"

#include <algorithm>
#include <charconv>

#include "lib/parse/text.hpp"

namespace trelvik {
namespace {

constexpr std::string_view kPropertiesChanged = "org.freedesktop.DBus.Properties.PropertiesChanged";
constexpr std::string_view kPresetStatusKey = "'PresetStatus':";

// The reply was always read in 4095-byte pieces and the count taken from the
// first one; a count further on does not count. Names fit 255 bytes.
constexpr std::size_t kFirstChunk = 4095;
constexpr std::size_t kNameMax = 255;
constexpr std::size_t kNumberDigits = 6;

// The run of at most six digits at `pos` as a number; empty without a digit.
std::optional<long> leading_number(std::string_view text, std::size_t pos) {
  if (pos >= text.size()) return std::nullopt;
  std::size_t end = pos;
  while (end < text.size() && end - pos < kNumberDigits && is_digit(text[end])) ++end;
  long value = 0;
  const auto [ptr, error] = std::from_chars(text.data() + pos, text.data() + end, value);
  if (error != std::errc() || ptr == text.data() + pos) return std::nullopt;
  return value;
}

// Collects the single-quoted strings from the second byte on; a name whose
// closing apostrophe never comes runs to the end of the reply.
void collect_names(std::string_view reply, PresetNameTable& table) {
  std::size_t pos = 1;
  while (pos < reply.size()) {
    const std::size_t open = reply.find('\'', pos);
    if (open == std::string_view::npos) return;
    const std::size_t close = reply.find('\'', open + 1);
    const std::size_t end = close == std::string_view::npos ? reply.size() : close;
    if (table.names.size() < table.length) {
      table.names.emplace_back(reply.substr(open + 1, std::min(end - open - 1, kNameMax)));
    }
    if (close == std::string_view::npos) return;
    pos = close + 1;
  }
}

}  // namespace

std::optional<PresetNameTable> parse_preset_reply(std::string_view reply) {
  const std::string_view first = reply.substr(0, kFirstChunk);
  const std::size_t blank = first.find(' ');
  if (blank == std::string_view::npos) return std::nullopt;
  const std::optional<long> count = leading_number(first, blank + 1);
  if (!count || *count == 0) return std::nullopt;
  PresetNameTable table;
  table.length = static_cast<std::size_t>(*count);
  collect_names(reply, table);
  return table;
}

std::optional<PresetStatus> parse_preset_status(std::string_view line) {
  if (line.find(kPropertiesChanged) == std::string_view::npos) return std::nullopt;
  const std::size_t key = line.find(kPresetStatusKey);
  if (key == std::string_view::npos) return std::nullopt;
  // "<(uint32 2, uint32 3)>": the status follows the first type word, the
  // preset number the second.
  const std::size_t paren = line.find('(', key);
  if (paren == std::string_view::npos) return std::nullopt;
  const std::size_t blank = line.find(' ', paren);
  if (blank == std::string_view::npos || blank + 1 >= line.size()) return std::nullopt;
  const std::size_t status_pos = blank + 1;
  const std::size_t next = line.find(' ', status_pos);
  if (next == std::string_view::npos) return std::nullopt;
  const std::size_t second = line.find(' ', next + 1);
  if (second == std::string_view::npos) return std::nullopt;
  const std::optional<long> preset = leading_number(line, second + 1);
  if (!preset) return std::nullopt;
  const char status = line[status_pos];
  return PresetStatus{is_digit(status) ? status - '0' : 0, *preset};
}

}  // namespace trelvik
