#include "lib/fileutil.hpp"

#include <sys/stat.h>
#include <syslog.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "lib/log.hpp"

namespace trelvik {
namespace {

const char* errno_text() { return errno == 0 ? "None" : std::strerror(errno); }

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

}  // namespace trelvik
