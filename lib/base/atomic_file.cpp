#include "lib/base/atomic_file.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "lib/base/safe_fs.hpp"

namespace trelvik {
namespace {

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

// The existing `name` may be replaced: a regular file (or none) that the
// process may write. A link is refused as an unwritable file is.
bool may_replace(int folder, const std::string& name, const std::string& path) {
  struct stat status {};
  if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  if (S_ISLNK(status.st_mode)) {
    safe_fs::log_link(path);
    return false;
  }
  // A rename needs only the folder's permission: without this check a file
  // made read-only would be replaced all the same.
  return ::faccessat(folder, name.c_str(), W_OK, AT_EACCESS) == 0;
}

bool write_temporary(int folder, const std::string& name, const std::string& path, std::string_view contents) {
  // O_EXCL makes sure that a new file of our own is written, never the
  // target of a planted link.
  safe_fs::Fd file = safe_fs::open_file_at(folder, name, path, O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (!file.valid()) return false;
  // The umask must not narrow it: the replaced files are read by other programs.
  ::fchmod(file.get(), 0644);
  const bool ok = write_all(file.get(), contents) && ::fsync(file.get()) == 0;
  const int cause = errno;
  if (!file.close()) return false;
  errno = cause;
  return ok;
}

}  // namespace

bool sync_path(const std::string& path) {
  const auto [folder, name] = safe_fs::split(path);
  const safe_fs::Fd dir = safe_fs::open_folder(folder);
  if (!dir.valid()) return false;
  const safe_fs::Fd fd(::openat(dir.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid()) return false;
  const bool ok = ::fsync(fd.get()) == 0;
  errno = ok ? 0 : errno;
  return ok;
}

bool atomic_replace(const std::string& path, const std::string& temporary, std::string_view contents) {
  // Both names live in one folder, reached once without links.
  const auto [folder_path, name] = safe_fs::split(path);
  const std::string temporary_name = safe_fs::split(temporary).second;
  const safe_fs::Fd folder = safe_fs::open_folder(folder_path);
  if (!folder.valid() || !may_replace(folder.get(), name, path)) return false;
  // A crash's leftover goes first.
  ::unlinkat(folder.get(), temporary_name.c_str(), 0);
  if (!write_temporary(folder.get(), temporary_name, temporary, contents) ||
      ::renameat(folder.get(), temporary_name.c_str(), folder.get(), name.c_str()) != 0) {
    const int cause = errno;
    ::unlinkat(folder.get(), temporary_name.c_str(), 0);
    errno = cause;
    return false;
  }
  ::fsync(folder.get());
  errno = 0;
  return true;
}

FileLock::FileLock(const std::string& path, Wait wait) noexcept {
  fd_ = safe_fs::open_folder(path, false);
  if (!fd_.valid()) {
    errno = 0;
    return;
  }
  while (::flock(fd_.get(), wait == Wait::yes ? LOCK_EX : LOCK_EX | LOCK_NB) != 0) {
    if (errno != EINTR) {
      busy_ = errno == EWOULDBLOCK;
      errno = 0;
      return;
    }
  }
  locked_ = true;
}

}  // namespace trelvik
