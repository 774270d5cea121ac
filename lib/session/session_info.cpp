#include "lib/session/session_info.hpp"

#include <syslog.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "lib/base/atomic_file.hpp"
#include "lib/base/log.hpp"
#include "lib/base/safe_fs.hpp"
#include "lib/names/session_layout.hpp"
#include "lib/parse/session_info.hpp"

namespace trelvik {
namespace {

constexpr std::size_t kMaxFieldName = 1000;

std::string info_file_of(const char* folder) { return session_layout::session_file(folder, session_layout::kInfoFile); }

// Reads, rewrites and atomically replaces the information file under the
// session folder's lock, so that a deactivation in another process and this
// update never overwrite each other's result.
void read_and_update_session_info(const char* path, const char* field, const char* default_value, value_callback cb) {
  if (std::strlen(field) > kMaxFieldName) {
    LOG_ERROR("Cannot read field names larger than 1000 characters, got: %s", field);
    return;
  }
  const FileLock lock(path);
  const std::string info = info_file_of(path);
  std::string text;
  if (!safe_fs::read_file(info, text)) {
    syslog(LOG_DEBUG, "(errno: %s) Could not open file '%s'", errno == 0 ? "None" : std::strerror(errno), info.c_str());
    errno = 0;
    return;
  }
  const std::string temporary = session_layout::session_file(path, session_layout::kInfoUpdateTemp);
  if (!atomic_replace(info, temporary, session_info_rewrite(text, field, default_value, cb))) {
    LOG_ERROR("Could not open file '%s'", info.c_str());
  }
}

}  // namespace

void update_number_of_collected_data_points(const char* path) {
  read_and_update_session_info(path, "Collected Data Points", "1", update_data_points);
}

void update_session_duration(const char* path) {
  read_and_update_session_info(path, "Duration", "0 Days 0 hours 0 minutes", update_duration);
}

}  // namespace trelvik
