#include "lib/atomic_file.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace trelvik {
namespace {

std::string folder_of(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool write_all(int fd, std::string_view contents) {
  while (!contents.empty()) {
    const ssize_t written = ::write(fd, contents.data(), contents.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    contents.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

bool sync_path(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  const int saved = errno;
  ::close(fd);
  errno = ok ? 0 : saved;
  return ok;
}

bool atomic_replace(const std::string& path, const std::string& temporary, std::string_view contents) {
  // A rename needs only the folder's permission: without this check a file
  // made read-only would be replaced all the same.
  if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 && errno != ENOENT) return false;
  // A crash's leftover goes first; then O_EXCL and O_NOFOLLOW make sure that
  // a new file of our own is written, never the target of a planted link.
  ::unlink(temporary.c_str());
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  // The umask must not narrow it: the replaced files are read by other programs.
  ::fchmod(fd, 0644);
  bool ok = write_all(fd, contents) && ::fsync(fd) == 0;
  int saved = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    ::unlink(temporary.c_str());
    errno = saved;
    return false;
  }
  sync_path(folder_of(path));
  errno = 0;
  return true;
}

FileLock::FileLock(const std::string& path) noexcept {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) {
    errno = 0;
    return;
  }
  while (::flock(fd_, LOCK_EX) != 0) {
    if (errno != EINTR) {
      errno = 0;
      return;
    }
  }
  locked_ = true;
}

FileLock::~FileLock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

}  // namespace trelvik
