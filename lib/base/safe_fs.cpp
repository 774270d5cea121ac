#include "lib/base/safe_fs.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "lib/base/log.hpp"
#include "lib/names/device_paths.hpp"

namespace trelvik::safe_fs {
namespace {

// The trusted head of a folder's path and the names below it, each to be
// opened without following a link.
struct Walk {
  std::string trusted;
  std::vector<std::string> names;
};

// False for a ".." among the untrusted names: nothing climbs out of a storage.
bool split_names(std::string_view rest, std::vector<std::string>& names) {
  while (!rest.empty()) {
    const std::size_t slash = rest.find('/');
    const std::string_view name = rest.substr(0, slash);
    if (name == "..") return false;
    if (!name.empty() && name != ".") names.emplace_back(name);
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  return true;
}

bool walk_of(const std::string& folder, Walk& walk) {
  const std::string localdata = device::localdata_dir();  // ends in "/"
  const std::string storages = device::storage_root();    // ends in "/"
  std::string_view rest;
  if (folder.starts_with(localdata)) {
    walk.trusted = localdata.substr(0, localdata.size() - 1);
    rest = std::string_view(folder).substr(localdata.size());
  } else if (folder.starts_with(storages) && folder.size() > storages.size()) {
    // The storage's mount point is the system's own; what lies on it is not.
    const std::size_t end = folder.find('/', storages.size());
    walk.trusted = folder.substr(0, end);
    if (end != std::string::npos) rest = std::string_view(folder).substr(end);
  } else {
    walk.trusted = folder;
  }
  return split_names(rest, walk.names);
}

bool is_link_at(int folder, const std::string& name) {
  const int cause = errno;
  struct stat status {};
  const bool link = ::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode);
  errno = cause;
  return link;
}

// `name` in `folder` as a regular file, never through a link (errno ELOOP
// then); nothing logged.
Fd open_regular_at(int folder, const std::string& name, int flags, mode_t mode) {
  // O_NONBLOCK: a planted FIFO must not hold the caller; a regular file
  // ignores it.
  Fd file(::openat(folder, name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, mode));
  if (!file.valid()) return file;
  struct stat status {};
  if (::fstat(file.get(), &status) != 0) return {};
  if (!S_ISREG(status.st_mode)) {
    errno = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
    return {};
  }
  // A regular file after all: its reads and writes block as they always did.
  const int mode_flags = ::fcntl(file.get(), F_GETFL);
  if (mode_flags < 0 || ::fcntl(file.get(), F_SETFL, mode_flags & ~O_NONBLOCK) != 0) return {};
  return file;
}

}  // namespace

std::pair<std::string, std::string> split(const std::string& path) {
  std::string trimmed = path;  // a folder's final "/" names no entry of its own
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const std::size_t slash = trimmed.rfind('/');
  if (slash == std::string::npos) return {".", trimmed};
  return {slash == 0 ? "/" : trimmed.substr(0, slash), trimmed.substr(slash + 1)};
}

void log_link(std::string_view path) {
  errno = ELOOP;
  LOG_ERROR("Refused to follow the symbolic link '%.*s'", static_cast<int>(path.size()), path.data());
  errno = ELOOP;
}

Fd open_folder(const std::string& folder, bool log_links) {
  Walk walk;
  if (!walk_of(folder, walk)) {
    errno = EINVAL;
    return {};
  }
  Fd dir(::open(walk.trusted.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  std::string reached = walk.trusted;
  for (const std::string& name : walk.names) {
    if (!dir.valid()) return dir;
    reached += '/' + name;
    const int fd = ::openat(dir.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    // A link opened with O_DIRECTORY and O_NOFOLLOW fails as "not a folder".
    if (fd < 0 && (errno == ENOTDIR || errno == ELOOP) && is_link_at(dir.get(), name)) {
      if (log_links) log_link(reached);
      errno = ELOOP;
      return {};
    }
    dir = Fd(fd);
  }
  return dir;
}

Fd open_file_at(int folder, const std::string& name, const std::string& path_for_log, int flags, mode_t mode) {
  Fd file = open_regular_at(folder, name, flags, mode);
  if (!file.valid() && (errno == ELOOP || errno == EEXIST) && is_link_at(folder, name)) log_link(path_for_log);
  return file;
}

Fd open_file(const std::string& path, int flags, mode_t mode) {
  const auto [folder, name] = split(path);
  const Fd dir = open_folder(folder);
  if (!dir.valid()) return {};
  return open_file_at(dir.get(), name, path, flags, mode);
}

Fd peek_folder_at(int folder, const std::string& name) {
  return Fd(::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

Fd peek_folder(const std::string& path) {
  const auto [folder, name] = split(path);
  const Fd dir = open_folder(folder, false);
  return dir.valid() ? peek_folder_at(dir.get(), name) : Fd();
}

Fd peek_file_at(int folder, const std::string& name) { return open_regular_at(folder, name, O_RDONLY, 0); }

std::string read_at(int fd, off_t offset, std::size_t size) {
  std::string text(size, '\0');
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = ::pread(fd, text.data() + got, size - got, offset + static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  text.resize(got);
  return text;
}

std::optional<std::string> read_end(int fd, std::size_t limit, bool& whole) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return std::nullopt;
  const auto size = static_cast<std::size_t>(status.st_size);
  const std::size_t length = std::min(size, limit);
  whole = length == size;
  return read_at(fd, static_cast<off_t>(size - length), length);
}

bool remove_if_empty_at(int folder, const std::string& name, int fd) {
  struct stat opened {
  }, named{};
  return ::fstat(fd, &opened) == 0 && opened.st_size == 0 &&
         ::fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == opened.st_dev &&
         named.st_ino == opened.st_ino && ::unlinkat(folder, name.c_str(), 0) == 0;
}

bool read_file(const std::string& path, std::string& text) {
  text.clear();
  const Fd file = open_file(path, O_RDONLY);
  if (!file.valid()) return false;
  char chunk[4096];
  for (;;) {
    const ssize_t got = ::read(file.get(), chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int cause = errno;
      text.clear();
      errno = cause;
      return false;
    }
    if (got == 0) return true;
    text.append(chunk, static_cast<std::size_t>(got));
  }
}

bool is_folder(const std::string& path) {
  const bool folder = open_folder(path, false).valid();
  errno = 0;
  return folder;
}

bool is_regular_file(const std::string& path) {
  const auto [folder, name] = split(path);
  const Fd dir = open_folder(folder, false);
  struct stat status {};
  const bool regular =
      dir.valid() && ::fstatat(dir.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode);
  errno = 0;
  return regular;
}

std::vector<std::string> folder_entries(const std::string& folder) {
  std::vector<std::string> names;
  Fd fd = open_folder(folder, false);
  DIR* dir = fd.valid() ? ::fdopendir(fd.get()) : nullptr;
  if (dir == nullptr) {
    errno = 0;
    return names;
  }
  fd.release();  // the folder stream owns it now
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  errno = 0;
  return names;
}

}  // namespace trelvik::safe_fs
