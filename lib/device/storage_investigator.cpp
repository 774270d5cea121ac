#include "lib/device/storage_investigator.hpp"

#include <sys/wait.h>
#include <syslog.h>

#include <string>
#include <utility>

#include "lib/base/log.hpp"
#include "lib/base/pipe.hpp"

namespace trelvik {

bool warn = true;

namespace {

constexpr const char* kCommand =
    "dbus-send --system --print-reply --reply-timeout=6000 --dest=com.zurn.Storage --type=method_call "
    "/com/zurn/Storage com.zurn.Storage.GetAllStoragesInfo";

// The end of the reply: the command's outcome decides before the count does.
StorageList finish_reply(StorageReplyParse parse, int wait_status) {
  if (wait_status == -1 || !WIFEXITED(wait_status)) {
    LOG_ERROR("Command exited abnormally: %s", kCommand);
    return {};
  }
  if (WEXITSTATUS(wait_status) != 0) {
    LOG_ERROR("Command exited with status %d: %s", WEXITSTATUS(wait_status), kCommand);
    return {};
  }
  if (!parse.complete()) {
    LOG_ERROR("Too few fields, found %d, expected %d.", parse.fields, kStorageFieldCount);
    return {};
  }
  return std::move(parse.storages);
}

}  // namespace

StorageList parse_storage_reply(std::string_view reply, int wait_status) {
  StorageReplyParse parse = parse_storage_records(reply);
  for (const std::string& problem : parse.problems) LOG_ERROR("%s", problem.c_str());
  if (parse.cut_short) {
    LOG_ERROR("Too few fields, found %d, expected %d.", parse.fields, kStorageFieldCount);
    return {};
  }
  return finish_reply(std::move(parse), wait_status);
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
