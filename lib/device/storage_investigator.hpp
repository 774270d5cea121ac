// The storage inventory: asks the device's storage service (through
// dbus-send) which edge storages exist and judges whether one of them can take
// session data right now. Every call queries the service afresh.
#pragma once

#include <string_view>

#include "lib/parse/storage_reply.hpp"

namespace trelvik {

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

// Judges dbus-send's whole printed reply and its wait status (as from
// pclose): logs every field line that did not parse and the reason of a
// rejection; an empty list on any rejection.
StorageList parse_storage_reply(std::string_view reply, int wait_status);

}  // namespace trelvik
