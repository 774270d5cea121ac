#include "lib/parse/time_zone_file.hpp"

#include <cstdio>
#include <cstdlib>

#include "lib/parse/text.hpp"

namespace trelvik {

namespace {

constexpr std::string_view kZoneField = "Zone: ";
constexpr std::string_view kOffsetField = "UTC offset: ";
// The widest offsets in use are +14:00 and -12:00.
constexpr int kMaxOffsetMinutes = 14 * 60;
// Far longer than any name of the database.
constexpr std::size_t kMaxZoneName = 64;

bool is_zone_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || is_digit(c) || c == '_' || c == '-' || c == '+';
}

// The value of "<field><value>\n" at the start of `text`; `text` moves past it.
std::optional<std::string_view> take_field(std::string_view& text, std::string_view field) {
  const std::size_t end = text.find('\n');
  if (end == std::string_view::npos || !text.starts_with(field)) return std::nullopt;
  std::string_view value = text.substr(field.size(), end - field.size());
  if (value.ends_with('\r')) value.remove_suffix(1);
  text.remove_prefix(end + 1);
  return value;
}

}  // namespace

bool is_iana_zone_name(std::string_view name) {
  if (name.empty() || name.size() > kMaxZoneName) return false;
  std::size_t part = 0;
  for (std::size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || name[i] == '/') {
      if (i == part || name[part] == '-') return false;
      part = i + 1;
    } else if (!is_zone_char(name[i])) {
      return false;
    }
  }
  return true;
}

std::optional<int> parse_utc_offset(std::string_view text) {
  if (text.size() != 5 || (text[0] != '+' && text[0] != '-')) return std::nullopt;
  for (const char c : text.substr(1)) {
    if (!is_digit(c)) return std::nullopt;
  }
  const int hours = (text[1] - '0') * 10 + (text[2] - '0');
  const int minutes = (text[3] - '0') * 10 + (text[4] - '0');
  const int total = hours * 60 + minutes;
  if (minutes > 59 || total > kMaxOffsetMinutes) return std::nullopt;
  return text[0] == '-' ? -total : total;
}

std::string format_utc_offset(int offset_minutes) {
  const int magnitude = std::abs(offset_minutes);
  char text[16] = {};
  std::snprintf(text, sizeof text, "%c%02d%02d", offset_minutes < 0 ? '-' : '+', magnitude / 60 % 100, magnitude % 60);
  return text;
}

std::string format_time_zone_file(const SessionTimeZone& zone) {
  return std::string(kZoneField) + zone.zone + "\n" + std::string(kOffsetField) +
         format_utc_offset(zone.offset_minutes) + "\n";
}

std::optional<SessionTimeZone> parse_time_zone_file(std::string_view text) {
  const std::optional<std::string_view> zone = take_field(text, kZoneField);
  const std::optional<std::string_view> offset = zone ? take_field(text, kOffsetField) : std::nullopt;
  if (!offset || !text.empty() || !is_iana_zone_name(*zone)) return std::nullopt;
  const std::optional<int> minutes = parse_utc_offset(*offset);
  if (!minutes) return std::nullopt;
  return SessionTimeZone{std::string(*zone), *minutes};
}

}  // namespace trelvik
