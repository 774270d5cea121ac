#include "lib/interrupts.hpp"

#include <string>

#include "lib/device_paths.hpp"
#include "lib/session_layout.hpp"
#include "lib/shell_quote.hpp"
#include "lib/sysutil.hpp"

namespace trelvik {
namespace {

// Long enough for every counter that moves to move visibly.
constexpr int kSecondCopyDelaySeconds = 3;

}  // namespace

void create_interrupts_snapshot(const char* session_path) {
  const std::string source = shell_word(device::proc("interrupts"));
  const std::string folder = shell_escape_double(session_layout::sampling_folder(session_path, session_layout::kInterrupts));
  // The $(date ...) stays live: the shell names each copy at its own time.
  qorm_systemf("cp %s \"%s/$(date +%%Y%%m%%d_%%H%%M%%S)_interrupts.txt\"", source.c_str(), folder.c_str());
  qorm_systemf("sleep %d && cp %s \"%s/$(date +%%Y%%m%%d_%%H%%M%%S)_interrupts.txt\"", kSecondCopyDelaySeconds,
               source.c_str(), folder.c_str());
}

}  // namespace trelvik
