// Test driver for the storage inventory and the partition check on the
// emulated camera.
//
//   driver_storage <operation> [argument...]   runs the operation once per argument
//   driver_storage                             reads "<operation> [argument]" lines from
//                                              standard input, answering each at once, so
//                                              that a test can change the device between
//                                              calls of one process
//
// Operations: "ok <disk_id>" (1/0), "list" (one line per record in list
// order), "pcent <path>" (the usage number), "partition <path>" (1/0).
#include <cstdio>
#include <iostream>
#include <string>

#include "lib/base/fileutil.hpp"
#include "lib/base/log.hpp"
#include "lib/device/storage_investigator.hpp"

namespace {

using trelvik::StorageInfo;

std::string text_of(const std::optional<std::string>& field) { return field ? "\"" + *field + "\"" : "(none)"; }

void print_storage(const StorageInfo& s) {
  // In reply order, DISRUPTION to DISKENCRYPTED.
  const bool flags[] = {s.disruption, s.available,          s.removed,           s.locked,
                        s.full,       s.read_only,          s.exiting,           s.recording,
                        s.recipient,  s.read_write_failure, s.encryptionenabled, s.diskencrypted};
  std::string bits;
  for (const bool flag : flags) bits += flag ? '1' : '0';
  std::cout << text_of(s.disk_id) << ' ' << text_of(s.friendly_name) << ' ' << text_of(s.mount_point) << ' '
            << text_of(s.status) << ' ' << s.disk_type << ' ' << bits << '\n';
}

bool run(const std::string& operation, const std::string& argument) {
  if (operation == "ok") {
    std::cout << (trelvik::determine_if_this_storage_is_ok(argument.c_str()) ? 1 : 0) << '\n';
  } else if (operation == "list") {
    trelvik::StorageList storages = trelvik::get_storages();
    for (const StorageInfo& storage : storages) print_storage(storage);
    std::cout << "end\n";
    trelvik::free_storage_info(storages);
  } else if (operation == "pcent") {
    std::cout << trelvik::get_storage_use_pcent(argument.c_str()) << '\n';
  } else if (operation == "partition") {
    std::cout << (trelvik::check_partition_usage(argument.c_str()) ? 1 : 0) << '\n';
  } else {
    std::cerr << "unknown operation: " << operation << '\n';
    return false;
  }
  std::cout.flush();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  trelvik::open_program_log();
  if (argc >= 2) {
    const std::string operation = argv[1];
    if (argc == 2) return run(operation, "") ? 0 : 2;
    for (int i = 2; i < argc; ++i) {
      if (!run(operation, argv[i])) return 2;
    }
    return 0;
  }
  std::string line;
  while (std::getline(std::cin, line)) {
    const std::size_t blank = line.find(' ');
    const std::string operation = line.substr(0, blank);
    const std::string argument = blank == std::string::npos ? "" : line.substr(blank + 1);
    if (!run(operation, argument)) return 2;
  }
  return 0;
}
