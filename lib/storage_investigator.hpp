// The storage inventory: asks the device's storage service (through
// dbus-send) which edge storages exist and judges whether one of them can take
// session data right now. Every call queries the service afresh.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace trelvik {

// Position of each field inside one record of the service's reply.
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

// Whether the lost-connection line may be logged: true at start and after
// every usable result, false once the line has been logged.
extern bool warn;

// The service's storages, or an empty list when it reported none or when the
// query or its reply failed (logged). The caller owns the list.
StorageList get_storages();
// Releases the records of a list (the list stays usable, empty).
void free_storage_info(StorageList& storages);
// The first record in list order whose disk_id is exactly `disk_id`, or null.
// The pointer lives as long as the list is unchanged.
const StorageInfo* storage_find(const StorageList& storages, const char* disk_id);
// Status exactly "OK", available, not read-only and not full.
bool is_storage_ok(const StorageInfo& storage);
// Queries the service: true when `disk_id` is listed and usable now. Logs a
// failed query or a missing storage every time, and the lost-connection line
// once per change from usable (or program start) to unusable.
bool determine_if_this_storage_is_ok(const char* disk_id);

// The parse of dbus-send's whole printed reply and its wait status (as from
// pclose). Logs what the query logs; an empty list on any rejection.
StorageList parse_storage_reply(std::string_view reply, int wait_status);

}  // namespace trelvik
