#include "lib/session/session_globals.hpp"

#include <cerrno>
#include <utility>

#include "lib/base/atomic_file.hpp"
#include "lib/base/fileutil.hpp"
#include "lib/base/log.hpp"
#include "lib/base/pipe.hpp"
#include "lib/names/device_paths.hpp"

namespace trelvik {

SessionPtr monitoring_session_new() { return std::make_unique<monitoring_session>(); }

bool monitoring_session_is_active(const monitoring_session* session) {
  return session != nullptr && session->secondary_storage_path && session->current_activity_folder;
}

bool monitoring_session_save(const monitoring_session* session) {
  const std::string path = device::state_file();
  if (session == nullptr) {
    // The removal is the end of the session: a file that stays is a session
    // that goes on, and the removal must reach the flash.
    if (!file_remove(path.c_str()) && is_file(path.c_str())) {
      LOG_ERROR("Could not remove file '%s'", path.c_str());
      return false;
    }
    sync_path(device::localdata_dir());
    errno = 0;
    return true;
  }
  if (!atomic_replace(path, path + ".tmp", monitoring_session_format(*session))) {
    LOG_ERROR("Could not open file '%s'", path.c_str());
    return false;
  }
  return true;
}

SessionPtr monitoring_session_load() { return monitoring_session_load_checked().session; }

SessionLoad monitoring_session_load_checked() {
  const std::string path = device::state_file();
  std::string text;
  if (!read_text_file(path, text)) {
    if (errno == ENOENT) {
      errno = 0;  // no session is the normal case, not an error
      return {};
    }
    LOG_ERROR("Could not open file '%s'", path.c_str());
    return {nullptr, true};
  }

  auto session = std::make_unique<monitoring_session>(monitoring_session_parse(text));
  if (!session->monitor_start_time) {
    LOG_ERROR("Could not restore monitoring session: Missing start time.");
    return {};
  }
  if (!session->secondary_storage_path || !session->current_activity_folder) {
    LOG_ERROR("Could not restore monitoring session: Missing secondary storage path or current activity folder.");
    return {};
  }
  session->session_path = *session->secondary_storage_path + *session->current_activity_folder;
  return {std::move(session), false};
}

}  // namespace trelvik
