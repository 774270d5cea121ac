// The storage service's whole reply as dbus-send prints it.
#include <cstddef>
#include <cstdint>

#include "fuzz/support/fuzz_support.hpp"
#include "lib/device/storage_investigator.hpp"
#include "lib/parse/storage_reply.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const trelvik::StorageReplyParse parsed = trelvik::parse_storage_records(trelvik::fuzz::text(data, size));
  trelvik::StorageList list = trelvik::parse_storage_reply(trelvik::fuzz::text(data, size), 0);
  for (const auto& storage : list) (void)trelvik::is_storage_ok(storage);
  (void)trelvik::storage_find(list, "SD_DISK");
  trelvik::free_storage_info(list);
  (void)parsed;
  return 0;
}
