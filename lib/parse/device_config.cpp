#include "lib/parse/device_config.hpp"

#include "lib/parse/text.hpp"

namespace trelvik {

namespace {

std::string* field_of(DeviceFacts& facts, std::string_view key) {
  if (key == "serial_number") return &facts.serial_number;
  if (key == "model_name") return &facts.model_name;
  if (key == "firmware_version") return &facts.firmware_version;
  if (key == "full_name") return &facts.full_name;
  if (key == "api_user") return &facts.api_user;
  return nullptr;
}

bool is_clean(std::string_view value) {
  for (const unsigned char c : value) {
    if (c < 0x20 || c == 0x7f) return false;
  }
  return true;
}

}  // namespace

std::optional<DeviceFacts> parse_device_config(std::string_view text) {
  DeviceFacts facts;
  for (std::string_view line : split_lines(text)) {
    if (line.ends_with('\n')) line.remove_suffix(1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    std::string* field = field_of(facts, line.substr(0, equals));
    if (field == nullptr) continue;
    const std::string_view value = line.substr(equals + 1);
    if (!is_clean(value)) return std::nullopt;
    field->assign(value);
  }
  if (facts.serial_number.empty() || facts.model_name.empty() || facts.firmware_version.empty() ||
      facts.api_user.empty() || facts.serial_number.find('/') != std::string::npos) {
    return std::nullopt;
  }
  return facts;
}

}  // namespace trelvik
