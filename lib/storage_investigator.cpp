#include "lib/storage_investigator.hpp"

#include <sys/wait.h>
#include <syslog.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <limits>

#include "lib/log.hpp"
#include "lib/pipe.hpp"

namespace trelvik {

bool warn = true;

namespace {

constexpr const char* kCommand =
    "dbus-send --system --print-reply --reply-timeout=6000 --dest=com.zurn.Storage --type=method_call "
    "/com/zurn/Storage com.zurn.Storage.GetAllStoragesInfo";

// The reply was always read through a 200-byte buffer, so a longer line
// counts as several lines; the field numbering depends on it.
constexpr std::size_t kReadLength = 199;

constexpr std::optional<std::string> StorageInfo::*kStringFields[] = {
    &StorageInfo::disk_id, &StorageInfo::friendly_name, &StorageInfo::mount_point, &StorageInfo::status};

constexpr bool StorageInfo::*kFlagFields[] = {
    &StorageInfo::disruption, &StorageInfo::available, &StorageInfo::removed,
    &StorageInfo::locked, &StorageInfo::full, &StorageInfo::read_only,
    &StorageInfo::exiting, &StorageInfo::recording, &StorageInfo::recipient,
    &StorageInfo::read_write_failure, &StorageInfo::encryptionenabled, &StorageInfo::diskencrypted};

// The next read of at most 199 characters from `rest`, up to and including a
// line feed; `rest` moves past it.
std::string_view next_read(std::string_view& rest) {
  const std::size_t line_end = rest.find('\n');
  const std::size_t length = std::min(line_end == std::string_view::npos ? rest.size() : line_end + 1, kReadLength);
  const std::string_view read = rest.substr(0, length);
  rest.remove_prefix(length);
  return read;
}

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
// (or the end of the read); an empty pair of quotes is an empty string.
void dbus_parse_string(std::string_view line, std::optional<std::string>& field) {
  if (line.find(" string \"\"") != std::string_view::npos) {
    field.emplace();
    return;
  }
  std::string_view rest = skip_space(line);
  if (consume(rest, "string")) {
    rest = skip_space(rest);
    if (consume(rest, "\"")) {
      const std::string_view value = rest.substr(0, rest.find('"'));
      if (!value.empty()) {
        field.emplace(value);
        return;
      }
    }
  }
  LOG_ERROR("Failed to parse string: %s", std::string(line).c_str());
}

// " int32 %d"; a number outside 32 bits does not parse.
void dbus_parse_int32(std::string_view line, std::int32_t& field) {
  std::string_view rest = skip_space(line);
  if (consume(rest, "int32")) {
    rest = skip_space(rest);
    if (!rest.empty() && rest.front() == '+') rest.remove_prefix(1);
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
    if (error == std::errc() && end != rest.data() && value >= std::numeric_limits<std::int32_t>::min() &&
        value <= std::numeric_limits<std::int32_t>::max()) {
      field = static_cast<std::int32_t>(value);
      return;
    }
  }
  LOG_ERROR("Failed to parse int32: %s", std::string(line).c_str());
}

void dbus_parse_boolean(std::string_view line, bool& field) {
  if (line.find("boolean true") != std::string_view::npos) {
    field = true;
  } else if (line.find("boolean false") != std::string_view::npos) {
    field = false;
  } else {
    LOG_ERROR("Failed to parse boolean: %s", std::string(line).c_str());
  }
}

void parse_field(StorageInfo& storage, int number, std::string_view line) {
  if (number < DISK_TYPE) {
    dbus_parse_string(line, storage.*kStringFields[number]);
  } else if (number == DISK_TYPE) {
    dbus_parse_int32(line, storage.disk_type);
  } else {
    dbus_parse_boolean(line, storage.*kFlagFields[number - DISRUPTION]);
  }
}

// The end of the reply: the command's outcome decides before the count does.
StorageList finish_reply(StorageList records, int counter, int wait_status) {
  if (wait_status == -1 || !WIFEXITED(wait_status)) {
    LOG_ERROR("Command exited abnormally: %s", kCommand);
    return {};
  }
  if (WEXITSTATUS(wait_status) != 0) {
    LOG_ERROR("Command exited with status %d: %s", WEXITSTATUS(wait_status), kCommand);
    return {};
  }
  if (!records.empty() && counter < kStorageFieldCount) {
    LOG_ERROR("Too few fields, found %d, expected %d.", counter, kStorageFieldCount);
    return {};
  }
  // Each record went to the head of the list as it was parsed.
  std::reverse(records.begin(), records.end());
  return records;
}

}  // namespace

StorageList parse_storage_reply(std::string_view reply, int wait_status) {
  StorageList records;  // in reply order until the end
  // The first record opener finds the counter at 17 and passes; every later
  // one passes only after its record's 17 field lines and closing line.
  int counter = kStorageFieldCount - 1;
  for (std::string_view rest = reply; !rest.empty();) {
    const std::string_view line = next_read(rest);
    ++counter;
    if (line.find("struct {") != std::string_view::npos) {
      if (counter < kStorageFieldCount) {
        LOG_ERROR("Too few fields, found %d, expected %d.", counter, kStorageFieldCount);
        return {};
      }
      records.emplace_back();
      counter = -1;
    } else if (!records.empty() && counter >= 0 && counter < kStorageFieldCount) {
      parse_field(records.back(), counter, line);
    }
  }
  return finish_reply(std::move(records), counter, wait_status);
}

StorageList get_storages() {
  ReadPipe pipe(kCommand);
  if (!pipe.is_open()) FATAL_POPEN(kCommand);
  std::string reply, line;
  while (pipe.read_line(line)) reply += line;
  return parse_storage_reply(reply, pipe.close());
}

void free_storage_info(StorageList& storages) { StorageList().swap(storages); }

const StorageInfo* storage_find(const StorageList& storages, const char* disk_id) {
  if (disk_id == nullptr) return nullptr;
  for (const StorageInfo& storage : storages) {
    if (storage.disk_id && *storage.disk_id == disk_id) return &storage;
  }
  return nullptr;
}

bool is_storage_ok(const StorageInfo& storage) {
  return storage.status == "OK" && storage.available && !storage.read_only && !storage.full;
}

bool determine_if_this_storage_is_ok(const char* disk_id) {
  StorageList storages = get_storages();
  const StorageInfo* storage = storage_find(storages, disk_id);
  if (storage == nullptr) {
    LOG_ERROR("Failed to find storage: %s", disk_id != nullptr ? disk_id : "(null)");
    return false;
  }
  syslog(LOG_DEBUG, "%s [%s] STATUS: %s, AVAILABLE: %d, READ_ONLY: %d, FULL: %d", "determine_if_this_storage_is_ok",
         storage->disk_id->c_str(), storage->status ? storage->status->c_str() : "(null)", storage->available ? 1 : 0,
         storage->read_only ? 1 : 0, storage->full ? 1 : 0);
  if (is_storage_ok(*storage)) {
    warn = true;
    return true;
  }
  if (warn) {
    LOG_ERROR("Lost connection to storage location: %s, no data can be saved.", disk_id);
    warn = false;
  }
  return false;
}

}  // namespace trelvik
