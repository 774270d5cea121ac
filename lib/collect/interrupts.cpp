#include "lib/collect/interrupts.hpp"

#include <unistd.h>

#include <string>

#include "lib/base/dateutil.hpp"
#include "lib/base/fileutil.hpp"
#include "lib/names/device_paths.hpp"
#include "lib/names/session_layout.hpp"

namespace trelvik {
namespace {

// Long enough for every counter that moves to move visibly.
constexpr unsigned kSecondCopyDelaySeconds = 3;

// One copy named by the time it is taken; a copy in the same second
// overwrites the first, as cp did, but never through a link at its name.
void copy_interrupts(const std::string& folder) {
  char name[64] = {};
  date_format_now(name, sizeof name, "%Y%m%d_%H%M%S_interrupts.txt");
  file_copy_over(device::proc("interrupts").c_str(), (folder + "/" + name).c_str());
}

}  // namespace

void create_interrupts_snapshot(const char* session_path) {
  const std::string folder = session_layout::sampling_folder(session_path, session_layout::kInterrupts);
  copy_interrupts(folder);
  ::sleep(kSecondCopyDelaySeconds);
  copy_interrupts(folder);
}

}  // namespace trelvik
