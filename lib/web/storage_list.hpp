// The storage list of the operator page: every storage a session could be
// started on (the storage service's edge storages and the internal storage),
// each with the state the page shows and whether session activation would
// accept it now. Read-only: it changes nothing.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

#include "lib/device/storage_investigator.hpp"

namespace trelvik {

// "usable" when activation would accept the storage; otherwise "missing"
// (status not "OK" or not available), "read-only" or "full" (its flag, or
// its partition 90 % used or more).
const char* storage_state(const StorageInfo& storage, bool partition_ok);

// Tells whether the partition holding a storage's application folder has
// room (the activation's 90 % check); given the disk id, "localdata" for the
// internal storage.
using PartitionCheck = std::function<bool(std::string_view disk_id)>;

// The JSON document: {"storages":[{"id":..,"name":..,"state":..,"accepted":..},...]}
// with the edge storages in the service's order, then the internal storage.
// The partition is only looked at for a storage that passes the usability rule.
std::string storage_list_json(const StorageList& storages, const PartitionCheck& partition_ok);

// Queries the service and the partitions for `serial_number`'s application
// folders and writes the JSON OK header block and the document to `out`.
void storage_list_print(std::string_view serial_number, FILE* out = stdout);

}  // namespace trelvik
