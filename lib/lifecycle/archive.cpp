#include "lib/lifecycle/archive.hpp"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "lib/base/atomic_file.hpp"
#include "lib/base/fileutil.hpp"
#include "lib/base/log.hpp"
#include "lib/base/process.hpp"
#include "lib/base/safe_fs.hpp"
#include "lib/base/shell_quote.hpp"
#include "lib/base/sysutil.hpp"
#include "lib/collect/filehandler.hpp"
#include "lib/names/device_paths.hpp"
#include "lib/names/session_layout.hpp"

namespace trelvik {
namespace {

constexpr char kEndRecord[] = "PK\x05\x06";
constexpr off_t kEndRecordSize = 22;  // without an archive comment, which zip does not write

}  // namespace

bool is_zipping_session(const char* path) {
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) {
    syslog(LOG_WARNING, "Could not get basename of path: %s", path);
    return false;
  }
  return ps_grep_and_check_if_included("zip", slash + 1) == 1;
}

namespace {

// Runs the archive `command` (which writes `archive`, both relative to the
// current working directory) in a process of its own that outlives the
// caller, as the background zip always has: the caller returns at once. When
// zip has ended well the archive and its folder are synced, so that a power
// cut after it leaves the whole archive; a zip that fails (a full card) is
// logged at error level, and archive recovery tries again later.
void start_detached_archive(const std::string& command, const std::string& archive) {
  const bool started = start_detached([&] {
    const bool ok = qorm_system(command.c_str()) && sync_path(archive) && sync_path(".");
    if (!ok) {
      char folder[4096] = {};
      LOG_ERROR("Could not write archive '%s/%s'", ::getcwd(folder, sizeof folder) ? folder : ".", archive.c_str());
    }
    return ok;
  });
  if (!started) LOG_ERROR("Could not create child process: %s", command.c_str());
}

// Starts zip from the folder that holds the session folder (reached without
// links: a linked application folder is not archived), then returns to the
// working directory the process had: a daemon must not keep an edge storage
// busy for the rest of its life.
void start_zip_in(const std::string& parent, const std::string& name) {
  const safe_fs::Fd folder = safe_fs::open_folder(parent);
  const int previous = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (!folder.valid() || ::fchdir(folder.get()) != 0) {
    LOG_ERROR("Could not change directory to: %s", parent.c_str());
    if (previous >= 0) ::close(previous);
    return;
  }
  syslog(LOG_DEBUG, "zipping '%s'", name.c_str());
  const std::string word = shell_word(name);
  // -y: a link inside the folder is stored as a link, never followed.
  start_detached_archive("zip --recurse-paths -y " + word + session_layout::kArchiveSuffix + " " + word +
                             " --exclude .tmp\\* > /dev/null 2>&1",
                         name + session_layout::kArchiveSuffix);
  if (previous >= 0) {
    if (::fchdir(previous) != 0) errno = 0;
    ::close(previous);
  }
}

}  // namespace

int zip_session(const char* path) {
  if (is_zipping_session(path)) return 0;
  if (!safe_fs::is_folder(path)) {
    LOG_ERROR("Path to zip is not a directory: %s", path);
    return 1;
  }
  if (path[0] != '/') {
    LOG_ERROR("Path to zip must be absolute, but got: %s", path);
    return 1;
  }
  gchar* parent = g_path_get_dirname(path);
  gchar* name = g_path_get_basename(path);
  if (std::strcmp(name, "/") == 0) {
    LOG_ERROR("Invalid path to zip: %s", path);
  } else {
    start_zip_in(parent, name);
  }
  g_free(parent);
  g_free(name);
  return 1;
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

bool is_monitory_dir(const char* path) {
  if (path == nullptr) return false;
  const std::string_view text(path);
  std::string localdata = device::localdata_dir();
  localdata.pop_back();  // the prefix is the folder's name without its final "/"
  const bool on_storage = text.starts_with(localdata) ||
                          (text.starts_with(device::storage_root()) && text.find("Trelvik") != std::string_view::npos);
  if (!on_storage || text.find("/..") != std::string_view::npos || !safe_fs::is_folder(path)) return false;
  const std::string_view name = text.substr(text.rfind('/') + 1);
  unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (name.size() != 17 || std::sscanf(std::string(name).c_str(), "%4u%2u%2u_%2u_%2u_%2u", &year, &month, &day, &hour,
                                       &minute, &second) != 6) {
    return false;
  }
  return year >= 1000 && year <= 9999 && month <= 12 && day <= 31 && hour <= 24 && minute <= 60 && second <= 60;
}

}  // namespace trelvik
