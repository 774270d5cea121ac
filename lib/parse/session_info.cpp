#include "lib/parse/session_info.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <utility>

#include "lib/parse/text.hpp"

namespace trelvik {

std::optional<std::string> update_data_points(const std::string& value) {
  // Read as strtoul reads it (blanks and a sign allowed, no digits are 0); the
  // count is 32-bit and wraps.
  const auto count = static_cast<std::uint32_t>(std::strtoull(value.c_str(), nullptr, 10));
  return std::to_string(static_cast<std::uint32_t>(count + 1u));
}

std::optional<std::string> update_duration(const std::string& value) {
  unsigned days = 0, hours = 0, minutes = 0;
  if (std::sscanf(value.c_str(), "%u Days %u hours %u minutes", &days, &hours, &minutes) != 3) return std::nullopt;
  const std::uint32_t total = days * 1440u + hours * 60u + minutes + 1u;
  return std::to_string(total / 1440) + " Days " + std::to_string((total / 60) % 24) + " hours " +
         std::to_string(total % 60) + " minutes";
}

std::string session_info_rewrite(const std::string& text, const std::string& field, const char* default_value,
                                 value_callback cb) {
  const std::string key = field + ": ";
  std::string out;
  bool replaced = false;
  for (const std::string_view line : split_lines(text)) {
    const std::optional<std::string> value =
        line.starts_with(key) ? cb(std::string(line.substr(key.size()))) : std::nullopt;
    if (value) {
      out += key + *value + "\n";
      replaced = true;
    } else {
      out += line;
    }
  }
  if (!replaced) out += key + default_value + "\n";
  return out;
}

std::string session_info_close(const std::string& text, const std::string& stop_time) {
  std::string out;
  for (const std::string_view line : split_lines(text)) {
    if (line.find("Stop Time of the session:") == std::string_view::npos &&
        line.find("Session Size: ") == std::string_view::npos) {
      out += line;
    }
  }
  return out + "Stop Time of the session: " + stop_time + "\r\n";
}

SessionFacts parse_session_facts(std::string_view text) {
  SessionFacts facts;
  const std::pair<std::string_view, std::string*> fields[] = {{"Model Name: ", &facts.model},
                                                              {"Serial Number: ", &facts.serial},
                                                              {"Firmware version: ", &facts.firmware},
                                                              {"Edge storage location: ", &facts.storage},
                                                              {"Collected Data Points: ", &facts.data_points}};
  for (std::string_view line : split_lines(text)) {
    line = line_body(line);
    if (line.ends_with('\r')) line.remove_suffix(1);
    for (const auto& [field, value] : fields) {
      if (line.starts_with(field) && value->empty()) *value = line.substr(field.size());
    }
  }
  return facts;
}

}  // namespace trelvik
