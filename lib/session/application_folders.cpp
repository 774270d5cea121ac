#include "lib/session/application_folders.hpp"

#include "lib/base/safe_fs.hpp"
#include "lib/names/device_paths.hpp"
#include "lib/names/session_layout.hpp"

namespace trelvik {

std::vector<std::string> edge_application_folders(const std::string& serial_number) {
  std::vector<std::string> folders;
  if (serial_number.empty()) return folders;
  const std::string root = device::storage_root();
  for (const std::string& storage : safe_fs::folder_entries(root)) {
    folders.push_back(session_layout::application_folder(root + storage, serial_number));
  }
  return folders;
}

}  // namespace trelvik
