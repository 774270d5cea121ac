#include "lib/archive_recovery.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <optional>
#include <vector>

#include "lib/archive.hpp"
#include "lib/atomic_file.hpp"
#include "lib/device_paths.hpp"
#include "lib/filehandler.hpp"
#include "lib/fileutil.hpp"
#include "lib/log.hpp"
#include "lib/pipe.hpp"
#include "lib/parse/session_info.hpp"
#include "lib/session_layout.hpp"
#include "lib/sysutil.hpp"

namespace trelvik {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRetryAfter = std::chrono::hours(1);
constexpr char kEndRecord[] = "PK\x05\x06";
constexpr off_t kEndRecordSize = 22;  // without an archive comment, which zip does not write

std::vector<std::string> entries_of(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) {
    errno = 0;
    return names;
  }
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  errno = 0;
  return names;
}

// The folders that hold this device's sessions, each ending in "/".
std::vector<std::string> application_folders(const std::string& serial_number) {
  std::vector<std::string> folders{device::localdata_dir()};
  if (serial_number.empty()) return folders;
  const std::string root = device::storage_root();
  for (const std::string& storage : entries_of(root)) {
    const std::string folder = root + storage + "/Trelvik_" + serial_number + "/";
    if (is_directory(folder.c_str())) folders.push_back(folder);
  }
  return folders;
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
  File in(session_layout::session_file(session_path, session_layout::kSignature).c_str(), "r");
  std::string line;
  while (in.is_open() && in.read_line(line)) {
    if (line.starts_with("End: ")) return line.substr(5, line.find_first_of("\r\n") - 5);
  }
  errno = 0;
  return std::nullopt;
}

// An ending that could not write its marks (a full card) left "Still
// active" in the information file: the stop time of the end line and the
// size go in now, before the archive is made.
void complete_information_file(const std::string& session_path) {
  const std::string info = session_layout::session_file(session_path, session_layout::kInfoFile);
  const FileLock lock(session_path);
  std::string text;
  if (!read_text_file(info, text) || text.find("Stop Time of the session: Still active") == std::string::npos) {
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
  if (is_file(archive.c_str()) && is_whole_archive(archive)) {
    attempts().erase(session_path);
    return;
  }
  if (!due(session_path) || is_zipping_session(session_path.c_str())) return;
  attempts()[session_path] = Clock::now();
  syslog(LOG_INFO, "Archiving ended monitoring session '%s', which has no archive.", session_path.c_str());
  if (is_file(archive.c_str())) file_remove(archive.c_str());  // a cut left it truncated
  complete_information_file(session_path);
  zip_session(session_path.c_str());
}

}  // namespace

void start_detached_archive(const std::string& command, const std::string& archive) {
  const pid_t child = ::fork();
  if (child < 0) {
    LOG_ERROR("Could not create child process: %s", command.c_str());
    return;
  }
  if (child == 0) {
    // The grandchild belongs to init at once: nobody waits for it, and it
    // holds none of the caller's output (a CGI reply ends when its program
    // ends, not when the archive is done).
    if (::fork() != 0) ::_exit(0);
    ::setsid();
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
      for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) ::dup2(null, fd);
      if (null > STDERR_FILENO) ::close(null);
    }
    const bool ok = qorm_system(command.c_str()) && sync_path(archive) && sync_path(".");
    if (!ok) {
      char folder[4096] = {};
      LOG_ERROR("Could not write archive '%s/%s'", ::getcwd(folder, sizeof folder) ? folder : ".", archive.c_str());
    }
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  errno = 0;
}

bool is_whole_archive(const std::string& archive) {
  const int fd = ::open(archive.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    errno = 0;
    return false;
  }
  struct stat status {};
  char record[4] = {};
  const bool whole = ::fstat(fd, &status) == 0 && status.st_size >= kEndRecordSize &&
                     ::pread(fd, record, sizeof record, status.st_size - kEndRecordSize) == sizeof record &&
                     std::string_view(record, sizeof record) == std::string_view(kEndRecord, 4);
  ::close(fd);
  errno = 0;
  return whole;
}

bool session_has_ended(const std::string& session_path) {
  File in(session_layout::session_file(session_path, session_layout::kSignature).c_str(), "r");
  std::string line;
  while (in.is_open() && in.read_line(line)) {
    if (line.starts_with("End")) return true;
  }
  errno = 0;  // a missing signature: not ended
  return false;
}

void archive_ended_sessions(const char* serial_number, const monitoring_session* active) {
  for (const std::string& folder : application_folders(serial_number)) {
    for (const std::string& name : entries_of(folder)) {
      const std::string session_path = folder + name;
      if (active != nullptr && active->session_path && *active->session_path == session_path) continue;
      if (!is_monitory_dir(session_path.c_str()) || !session_has_ended(session_path)) continue;
      recover(session_path);
    }
  }
}

}  // namespace trelvik
