#include "lib/web/storage_list.hpp"

#include "lib/base/fileutil.hpp"
#include "lib/names/device_paths.hpp"
#include "lib/names/session_layout.hpp"
#include "lib/web/httputil.hpp"

namespace trelvik {

namespace {

constexpr std::string_view kInternal = "localdata";

std::string entry_json(std::string_view id, std::string_view name, const char* state) {
  const bool accepted = std::string_view(state) == "usable";
  return "{\"id\":\"" + json_escape(id) + "\",\"name\":\"" + json_escape(name) + "\",\"state\":\"" + state +
         "\",\"accepted\":" + (accepted ? "true" : "false") + "}";
}

}  // namespace

const char* storage_state(const StorageInfo& storage, bool partition_ok) {
  if (is_storage_ok(storage)) return partition_ok ? "usable" : "full";
  if (storage.status != "OK" || !storage.available) return "missing";
  if (storage.read_only) return "read-only";
  return "full";
}

std::string storage_list_json(const StorageList& storages, const PartitionCheck& partition_ok) {
  std::string json = "{\"storages\":[";
  // The list runs from the reply's last record to its first.
  // Iterators rather than std::views::reverse, which clang 14 (the fuzz build,
  // clang-tidy) cannot compile against this libstdc++.
  // NOLINTNEXTLINE(modernize-loop-convert)
  for (auto it = storages.rbegin(); it != storages.rend(); ++it) {
    if (!it->disk_id || it->disk_id->empty()) continue;
    const bool room = is_storage_ok(*it) && partition_ok(*it->disk_id);
    json += entry_json(*it->disk_id, it->friendly_name.value_or(""), storage_state(*it, room));
    json += ',';
  }
  json += entry_json(kInternal, "Internal storage", partition_ok(kInternal) ? "usable" : "full");
  return json + "]}";
}

void storage_list_print(std::string_view serial_number, FILE* out) {
  const StorageList storages = get_storages();
  const std::string serial(serial_number);
  const PartitionCheck partition_ok = [&serial](std::string_view disk_id) {
    // The folders that activation checks: the application folder on an edge
    // storage, the package's data folder for the internal storage.
    std::string folder = device::localdata_dir();
    if (disk_id != kInternal) {
      folder = session_layout::application_folder(device::storage_root().append(disk_id), serial) + "/";
    }
    return check_partition_usage(folder.c_str());
  };
  http_print_reply(kHttpJsonOk, storage_list_json(storages, partition_ok), out);
}

}  // namespace trelvik
