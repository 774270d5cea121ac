#include "lib/parse/storage_reply.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <limits>

#include "lib/parse/text.hpp"

namespace trelvik {
namespace {

constexpr std::optional<std::string> StorageInfo::*kStringFields[] = {
    &StorageInfo::disk_id, &StorageInfo::friendly_name, &StorageInfo::mount_point, &StorageInfo::status};

constexpr bool StorageInfo::*kFlagFields[] = {&StorageInfo::disruption,
                                              &StorageInfo::available,
                                              &StorageInfo::removed,
                                              &StorageInfo::locked,
                                              &StorageInfo::full,
                                              &StorageInfo::read_only,
                                              &StorageInfo::exiting,
                                              &StorageInfo::recording,
                                              &StorageInfo::recipient,
                                              &StorageInfo::read_write_failure,
                                              &StorageInfo::encryptionenabled,
                                              &StorageInfo::diskencrypted};

// scanf's white-space directive: any amount, none included.
std::string_view skip_space(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  return text;
}

bool consume(std::string_view& text, std::string_view word) {
  if (text.substr(0, word.size()) != word) return false;
  text.remove_prefix(word.size());
  return true;
}

// " string \"%m[^\"]\"": one or more characters up to the next double quote
// (or the end of the line); an empty pair of quotes is an empty string.
bool dbus_parse_string(std::string_view line, std::optional<std::string>& field) {
  if (line.find(" string \"\"") != std::string_view::npos) {
    field.emplace();
    return true;
  }
  std::string_view rest = skip_space(line);
  if (!consume(rest, "string")) return false;
  rest = skip_space(rest);
  if (!consume(rest, "\"")) return false;
  const std::string_view value = rest.substr(0, rest.find('"'));
  if (value.empty()) return false;
  field.emplace(value);
  return true;
}

// " int32 %d"; a number outside 32 bits does not parse.
bool dbus_parse_int32(std::string_view line, std::int32_t& field) {
  std::string_view rest = skip_space(line);
  if (!consume(rest, "int32")) return false;
  rest = skip_space(rest);
  if (!rest.empty() && rest.front() == '+') rest.remove_prefix(1);
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
  if (error != std::errc() || end == rest.data() || value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max()) {
    return false;
  }
  field = static_cast<std::int32_t>(value);
  return true;
}

bool dbus_parse_boolean(std::string_view line, bool& field) {
  if (line.find("boolean true") != std::string_view::npos) {
    field = true;
  } else if (line.find("boolean false") != std::string_view::npos) {
    field = false;
  } else {
    return false;
  }
  return true;
}

void parse_field(StorageReplyParse& result, int number, std::string_view line) {
  StorageInfo& storage = result.storages.back();
  const char* type = nullptr;
  if (number < DISK_TYPE) {
    if (!dbus_parse_string(line, storage.*kStringFields[number])) type = "string";
  } else if (number == DISK_TYPE) {
    if (!dbus_parse_int32(line, storage.disk_type)) type = "int32";
  } else if (!dbus_parse_boolean(line, storage.*kFlagFields[number - DISRUPTION])) {
    type = "boolean";
  }
  if (type != nullptr) result.problems.push_back(std::string("Failed to parse ") + type + ": " + std::string(line));
}

}  // namespace

StorageReplyParse parse_storage_records(std::string_view reply) {
  StorageReplyParse result;  // records in reply order until the end
  // The first record opener finds the count at 17 and passes; every later
  // one passes only after its record's 17 field lines and closing line.
  for (const std::string_view line : split_lines(reply)) {
    ++result.fields;
    if (line.find("struct {") != std::string_view::npos) {
      if (result.fields < kStorageFieldCount) {
        result.cut_short = true;
        result.storages.clear();
        return result;
      }
      result.storages.emplace_back();
      result.fields = -1;
    } else if (!result.storages.empty() && result.fields >= 0 && result.fields < kStorageFieldCount) {
      parse_field(result, result.fields, line);
    }
  }
  std::reverse(result.storages.begin(), result.storages.end());
  return result;
}

}  // namespace trelvik
