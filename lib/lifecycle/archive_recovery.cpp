#include "lib/lifecycle/archive_recovery.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

#include "lib/base/atomic_file.hpp"
#include "lib/base/fileutil.hpp"
#include "lib/base/log.hpp"
#include "lib/base/safe_fs.hpp"
#include "lib/base/sysutil.hpp"
#include "lib/collect/filehandler.hpp"
#include "lib/lifecycle/archive.hpp"
#include "lib/names/device_paths.hpp"
#include "lib/names/session_layout.hpp"
#include "lib/parse/session_info.hpp"
#include "lib/parse/text.hpp"
#include "lib/session/application_folders.hpp"

namespace trelvik {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRetryAfter = std::chrono::hours(1);

// What recovery passed over, each logged once per process.
void log_skipped_once(const std::string& path) {
  static std::set<std::string> logged;
  if (logged.size() >= 4096) logged.clear();
  if (logged.insert(path).second) {
    syslog(LOG_WARNING, "Not archiving '%s': it is not a session folder that this device made.", path.c_str());
  }
}

// The folders that hold this device's sessions, each ending in "/"; a
// linked application folder is passed over.
std::vector<std::string> application_folders(const std::string& serial_number) {
  std::vector<std::string> folders{device::localdata_dir()};
  for (const std::string& folder : edge_application_folders(serial_number)) {
    if (safe_fs::is_folder(folder)) {
      folders.push_back(folder + "/");
    } else if (struct stat status{}; ::lstat(folder.c_str(), &status) == 0) {
      log_skipped_once(folder);
    }
    errno = 0;
  }
  return folders;
}

// A folder that this device's program made: its signature and its
// information file are regular files (reached without links), and the
// information file names this device.
bool made_by_this_device(const std::string& session_path, const std::string& serial_number) {
  const std::string info_file = session_layout::session_file(session_path, session_layout::kInfoFile);
  std::string info;
  if (!safe_fs::is_regular_file(info_file) || !safe_fs::read_file(info_file, info)) {
    errno = 0;
    return false;
  }
  return serial_number.empty() || session_info_field(info, "Serial Number") == serial_number;
}

// When each session was last handed to the archiver by this process.
std::map<std::string, Clock::time_point>& attempts() {
  static std::map<std::string, Clock::time_point> tried;
  return tried;
}

bool due(const std::string& session_path) {
  const auto it = attempts().find(session_path);
  return it == attempts().end() || Clock::now() - it->second >= kRetryAfter;
}

// The date of the ".signature" end line ("End: " and the date command's
// text, the same form as the stop time), or nothing.
std::optional<std::string> end_date(const std::string& session_path) {
  std::string text;
  safe_fs::read_file(session_layout::session_file(session_path, session_layout::kSignature), text);
  errno = 0;
  for (const std::string_view line : split_lines(text)) {
    if (line.starts_with("End: ")) return std::string(line.substr(5, line.find_first_of("\r\n") - 5));
  }
  return std::nullopt;
}

// An ending that could not write its marks (a full card) left "Still
// active" in the information file: the stop time of the end line and the
// size go in now, before the archive is made.
void complete_information_file(const std::string& session_path) {
  const std::string info = session_layout::session_file(session_path, session_layout::kInfoFile);
  const FileLock lock(session_path);
  std::string text;
  if (!safe_fs::read_file(info, text) || text.find("Stop Time of the session: Still active") == std::string::npos) {
    errno = 0;
    return;
  }
  const std::optional<std::string> stop_time = end_date(session_path);
  if (!stop_time) return;
  char size_text[24] = {};
  suffix_bytes(size_text, sizeof size_text, static_cast<std::int64_t>(get_dir_size_bytes(session_path.c_str())));
  const std::string closed = session_info_close(text, *stop_time) + "Session Size: " + size_text + "\r\n";
  if (!atomic_replace(info, session_layout::session_file(session_path, session_layout::kInfoRewriteTemp), closed)) {
    LOG_ERROR("Could not open file '%s'", info.c_str());
  }
}

void recover(const std::string& session_path) {
  const std::string archive = session_layout::archive(session_path);
  if (safe_fs::is_regular_file(archive) && is_whole_archive(archive)) {
    attempts().erase(session_path);
    return;
  }
  if (!due(session_path) || is_zipping_session(session_path.c_str())) return;
  attempts()[session_path] = Clock::now();
  syslog(LOG_INFO, "Archiving ended monitoring session '%s', which has no archive.", session_path.c_str());
  // A cut left it truncated (or something else lies at its name: the
  // name goes, never what a link points at).
  if (struct stat status{}; ::lstat(archive.c_str(), &status) == 0) file_remove(archive.c_str());
  complete_information_file(session_path);
  zip_session(session_path.c_str());
}

}  // namespace

bool session_has_ended(const std::string& session_path) {
  std::string text;
  safe_fs::read_file(session_layout::session_file(session_path, session_layout::kSignature), text);
  errno = 0;  // a missing signature: not ended
  for (const std::string_view line : split_lines(text)) {
    if (line.starts_with("End")) return true;
  }
  return false;
}

void archive_ended_sessions(const char* serial_number, const monitoring_session* active) {
  // An end in progress (or a begin) holds the data folder's lock: the
  // session it ends is not done yet, so recovery waits for a later tick.
  const FileLock lock(device::localdata_dir(), FileLock::Wait::no);
  if (lock.busy()) return;
  for (const std::string& folder : application_folders(serial_number)) {
    for (const std::string& name : safe_fs::folder_entries(folder)) {
      const std::string session_path = folder + name;
      if (active != nullptr && active->session_path && *active->session_path == session_path) continue;
      if (!is_monitory_dir(session_path.c_str())) {
        if (struct stat status{}; ::lstat(session_path.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
          log_skipped_once(session_path);
        }
        continue;
      }
      // A folder without its signature yet is one that begin is making.
      const std::string signature = session_layout::session_file(session_path, session_layout::kSignature);
      if (!safe_fs::is_regular_file(signature)) {
        if (struct stat status{}; ::lstat(signature.c_str(), &status) == 0) log_skipped_once(session_path);
        continue;
      }
      if (!session_has_ended(session_path)) continue;
      if (!made_by_this_device(session_path, serial_number)) {
        log_skipped_once(session_path);
        continue;
      }
      recover(session_path);
    }
  }
}

}  // namespace trelvik
