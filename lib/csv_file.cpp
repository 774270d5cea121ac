#include "lib/csv_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "lib/dateutil.hpp"
#include "lib/log.hpp"

namespace trelvik {

std::string csv_timestamp() {
  char stamp[40] = {};
  date_format_now(stamp, sizeof stamp, "%Y-%m-%d,%H:%M:%S");
  return stamp;
}

CsvFile::CsvFile(const std::string& path, const char* source, int line) noexcept {
  // One path look-up per call: the file's size, not a separate existence
  // test, tells a new file (sessions append to dozens of files per round).
  fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd_ < 0) {
    log_prefixed(LOG_ERR, source, line, "Could not open file '%s'", path.c_str());
    return;
  }
  struct stat status {};
  is_new_ = ::fstat(fd_, &status) == 0 && status.st_size == 0;
}

CsvFile::~CsvFile() { close(); }

bool CsvFile::close() noexcept {
  if (fd_ < 0) return false;
  bool ok = true;
  std::string_view rest = pending_;
  while (!rest.empty()) {
    const ssize_t written = ::write(fd_, rest.data(), rest.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      ok = false;
      break;
    }
    rest.remove_prefix(static_cast<std::size_t>(written));
  }
  ok = ::close(fd_) == 0 && ok;
  fd_ = -1;
  pending_.clear();
  return ok;
}

}  // namespace trelvik
