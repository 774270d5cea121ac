#include "lib/base/fileutil.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <gio/gio.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "lib/base/descriptor.hpp"
#include "lib/base/log.hpp"
#include "lib/base/pipe.hpp"
#include "lib/base/safe_fs.hpp"
#include "lib/base/shell_quote.hpp"
#include "lib/names/device_paths.hpp"
#include "lib/parse/tool_lines.hpp"

namespace trelvik {
namespace {

const char* errno_text() { return errno == 0 ? "None" : std::strerror(errno); }

const char* or_null_mark(const char* text) { return text != nullptr ? text : "[NULL]"; }

// A partition this full ends a running session and refuses a new one.
constexpr int kFullPercent = 90;

}  // namespace

bool is_directory(const char* path) {
  struct stat status {};
  return path != nullptr && stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

bool is_file(const char* path) {
  struct stat status {};
  return path != nullptr && stat(path, &status) == 0 && S_ISREG(status.st_mode);
}

bool file_remove(const char* path) {
  if (std::remove(path) == 0) return true;
  syslog(LOG_DEBUG, "Could not remove '%s': %s", path, errno_text());
  errno = 0;
  return false;
}

bool file_rename(const char* oldname, const char* newname) {
  if (std::rename(oldname, newname) == 0) return true;
  syslog(LOG_DEBUG, "Could not rename '%s'->'%s': %s", oldname, newname, errno_text());
  errno = 0;
  return false;
}

bool is_readable(const char* filename) { return filename != nullptr && access(filename, R_OK) == 0; }
bool is_writable(const char* filename) { return filename != nullptr && access(filename, W_OK) == 0; }
bool is_executable(const char* filename) { return filename != nullptr && access(filename, X_OK) == 0; }

std::int64_t filesize(const char* path) {
  struct stat status {};
  if (path == nullptr || stat(path, &status) != 0) {
    LOG_ERROR("Failed getting filesize of %s", or_null_mark(path));
    return -1;
  }
  return status.st_size;
}

void suffix_bytes(char* buffer, std::size_t buffer_size, std::int64_t file_size) {
  static constexpr const char* kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  constexpr std::size_t kLastUnit = sizeof kUnits / sizeof kUnits[0] - 1;
  long long value = file_size;
  std::size_t unit = 0;
  // Inclusive boundaries: 1024 B stays in bytes, 1025 B becomes 1 KiB.
  while (unit < kLastUnit && value > 1024) {
    value /= 1024;
    ++unit;
  }
  BOUNDED_FORMAT(buffer, buffer_size, "%lld %s", value, kUnits[unit]);
}

void filesize_human_readable(char* buffer, std::size_t buffer_size, const char* path) {
  suffix_bytes(buffer, buffer_size, filesize(path));
}

bool empty_file_if_possible(const char* path) {
  if (path == nullptr) return false;
  File file(path, "w");
  return file.is_open() && file.close();
}

namespace {

bool copy_bytes(int from, int to) {
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(from, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return got == 0;
    for (ssize_t done = 0; done < got;) {
      const ssize_t written = ::write(to, buffer + done, static_cast<std::size_t>(got - done));
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return false;
      done += written;
    }
  }
}

// The copy with the wording of GLib's copy, which it replaces: a reason that
// names the file it concerns.
bool copy_into(const char* src, const char* dest, int create) {
  const safe_fs::Fd source(::open(src, O_RDONLY | O_CLOEXEC));
  if (!source.valid()) {
    syslog(LOG_WARNING, "Could not copy '%s' to '%s': Error opening file \u201c%s\u201d: %s", src, dest, src,
           std::strerror(errno));
    errno = 0;
    return false;
  }
  // The destination's folder is reached without links and the file is
  // opened with O_NOFOLLOW: a copy never lands where a planted link points.
  safe_fs::Fd destination = safe_fs::open_file(dest, O_WRONLY | O_CREAT | create, 0666);
  if (!destination.valid()) {
    syslog(LOG_WARNING, "Could not copy '%s' to '%s': Error opening file \u201c%s\u201d: %s", src, dest, dest,
           std::strerror(errno));
    errno = 0;
    return false;
  }
  if (!copy_bytes(source.get(), destination.get()) || !destination.close()) {
    syslog(LOG_WARNING, "Could not copy '%s' to '%s': Error writing to file: %s", src, dest,
           std::strerror(errno != 0 ? errno : EIO));
    errno = 0;
    return false;
  }
  return true;
}

}  // namespace

bool file_copy(const char* src, const char* dest) { return copy_into(src, dest, O_EXCL); }

bool file_copy_over(const char* src, const char* dest) { return copy_into(src, dest, O_TRUNC); }

std::optional<std::string> file_get_contents(const char* path) {
  g_autofree gchar* contents = nullptr;
  gsize length = 0;
  g_autoptr(GError) error = nullptr;
  if (g_file_get_contents(path, &contents, &length, &error)) return std::string(contents, length);
  if (error != nullptr) {
    syslog(LOG_WARNING, "Could not read contents of '%s': %s", path, error->message);
  } else {
    syslog(LOG_WARNING, "Could read contents of '%s', but no error code was set.", path);
  }
  return std::nullopt;
}

bool file_put_string(const char* path, const char* contents) {
  g_autoptr(GError) error = nullptr;
  if (g_file_set_contents(path, contents, -1, &error)) return true;
  if (error != nullptr) {
    syslog(LOG_WARNING, "Could not put contents of '%s': %s", path, error->message);
  } else {
    syslog(LOG_WARNING, "Could put contents of '%s', but no error code was set.", path);
  }
  return false;
}

std::string read_or_empty(const std::string& path) {
  std::string text;
  read_text_file(path, text);
  return text;
}

unsigned dir_remove_recursive(const char* dir_path) {
  DirHandle dir(opendir(dir_path));
  if (!dir) {
    syslog(LOG_WARNING, "Could not open dir for removal: %s", dir_path);
    return 0;
  }
  unsigned removed = 0;
  while (const dirent* entry = readdir(dir.get())) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    const std::string child = std::string(dir_path) + "/" + entry->d_name;
    // lstat, not stat: a link to a folder elsewhere goes as one entry and is
    // never followed, so nothing outside the tree can be removed.
    struct stat status {};
    if (lstat(child.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
      removed += dir_remove_recursive(child.c_str());
    } else if (file_remove(child.c_str())) {
      ++removed;
    }
  }
  dir.reset();
  if (file_remove(dir_path)) ++removed;
  return removed;
}

bool dir_make_recursive(const char* dir_path) {
  if (dir_path == nullptr || dir_path[0] != '/') {
    LOG_ERROR("dir_make_recursive: Path must be absolute");
    return false;
  }
  const std::string path(dir_path);
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    if (is_directory(prefix.c_str())) continue;
    // Another process may have made it meanwhile; that is as good.
    if (mkdir(prefix.c_str(), 0755) != 0 && !(errno == EEXIST && is_directory(prefix.c_str()))) {
      LOG_ERROR("Could not create directory '%s'", prefix.c_str());
      return false;
    }
    errno = 0;
  }
  return true;
}

int get_storage_use_pcent(const char* storage_path) {
  if (storage_path == nullptr || storage_path[0] != '/') {
    LOG_ERROR("Expected an absolute path, got '%s'", or_null_mark(storage_path));
    return -1;
  }
  const std::string command = shell_word(device::df()) + " -k -P '" + shell_escape_single(storage_path) + "'";
  ReadPipe pipe(command);
  if (!pipe.is_open()) {
    LOG_ERROR("Could not popen: %s", command.c_str());
    return -1;
  }
  std::string header, line;
  if (!pipe.read_line(header)) return -1;
  // A df that knows no partition for the path (busybox, for a folder that is
  // not there yet) prints only its header.
  if (!pipe.read_line(line)) return 0;
  const std::optional<int> pcent = df_line_use_pcent(line);
  if (!pcent) {
    LOG_ERROR("Could not find percent char in '%s'", line.c_str());
    return 0;
  }
  return *pcent;
}

bool check_partition_usage(const char* storage_path) {
  const int pcent = get_storage_use_pcent(storage_path);
  if (pcent < 0) {
    syslog(LOG_WARNING, "Could not get usage of partition for path '%s'.", or_null_mark(storage_path));
    return false;
  }
  return pcent < kFullPercent;
}

}  // namespace trelvik
