#include "lib/collect/onvif.hpp"

#include <syslog.h>

#include <string>

#include "lib/base/dateutil.hpp"
#include "lib/base/fileutil.hpp"
#include "lib/names/device_paths.hpp"
#include "lib/names/session_layout.hpp"

namespace trelvik {

void onvif_copy_media_conf(const char* session_path) {
  const std::string source = device::media_conf();
  if (!is_file(source.c_str())) {
    syslog(LOG_DEBUG, "'%s' is not a file.", source.c_str());
    return;
  }
  char timestamp[20] = {};
  date_format_now(timestamp, sizeof timestamp, "%Y%m%d_%H%M%S");
  const std::string dest =
      session_layout::sampling_folder(session_path, session_layout::kOnvif) + "/" + timestamp + "_media.conf";
  file_copy(source.c_str(), dest.c_str());
}

}  // namespace trelvik
