// The storage service's reply to GetAllStoragesInfo as dbus-send prints it:
// one "struct {" opener per storage, then its 17 field lines in a fixed order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace trelvik {

// Position of each field inside one record of the reply.
enum storage_data_info_t : int {
  DISK_ID = 0,
  FRIENDLY_NAME = 1,
  MOUNT_POINT = 2,
  STATUS = 3,
  DISK_TYPE = 4,
  DISRUPTION = 5,
  AVAILABLE = 6,
  REMOVED = 7,
  LOCKED = 8,
  FULL = 9,
  READ_ONLY = 10,
  EXITING = 11,
  RECORDING = 12,
  RECIPIENT = 13,
  READ_WRITE_FAILURE = 14,
  ENCRYPTIONENABLED = 15,
  DISKENCRYPTED = 16,
};
inline constexpr int kStorageFieldCount = 17;

// One storage location as the service reports it. A field whose reply line
// could not be parsed keeps its zero value (no string, 0, false).
struct StorageInfo {
  std::optional<std::string> disk_id;  // also its folder name under the storage root
  std::optional<std::string> friendly_name;
  std::optional<std::string> mount_point;
  std::optional<std::string> status;  // "OK" when usable
  std::int32_t disk_type = 0;
  bool disruption = false;
  bool available = false;
  bool removed = false;
  bool locked = false;
  bool full = false;
  bool read_only = false;
  bool exiting = false;
  bool recording = false;
  bool recipient = false;
  bool read_write_failure = false;
  bool encryptionenabled = false;
  bool diskencrypted = false;
};

// The records in list order: the last record of the reply comes first.
using StorageList = std::vector<StorageInfo>;

struct StorageReplyParse {
  StorageList storages;  // list order; emptied when a record was cut short
  // "Failed to parse <type>: <line>" for every field line that did not parse,
  // in reply order (the line keeps its line feed).
  std::vector<std::string> problems;
  // Lines after the last opener: 17 fields and a closing line make a whole
  // record; -1 right after an opener.
  int fields = kStorageFieldCount - 1;
  bool cut_short = false;  // an opener came before the previous record's 17 fields (counted in `fields`)
  // No record, or the last one has all its field lines.
  bool complete() const { return !cut_short && (storages.empty() || fields >= kStorageFieldCount); }
};

// Parses the whole printed reply, line by line however long a line is. Text
// before the first opener is never parsed.
StorageReplyParse parse_storage_records(std::string_view reply);

}  // namespace trelvik
