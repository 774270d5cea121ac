#include "lib/session/csv_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>

#include "lib/base/dateutil.hpp"
#include "lib/base/log.hpp"
#include "lib/base/safe_fs.hpp"

namespace trelvik {
namespace {

// Per process, and only the daemon's main thread appends: the files whose
// tail has been checked, and those whose last append failed (logged once).
std::set<std::string>& checked_files() {
  static std::set<std::string> files;
  return files;
}

std::set<std::string>& failing_files() {
  static std::set<std::string> files;
  return files;
}

// A long-lived daemon sees a hundred files per session; the set forgets them
// now and then, which costs one more tail check per file.
constexpr std::size_t kMaxCheckedFiles = 4096;
constexpr off_t kTailChunk = 4096;

// Cuts the file back to its last whole row when it ends in NUL bytes or a
// row without its line end; a file with no whole row becomes empty.
void cut_to_whole_rows(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) != 0 || status.st_size == 0) return;
  off_t keep = 0;
  std::string chunk;
  for (off_t end = status.st_size; end > 0;) {
    const off_t from = std::max<off_t>(0, end - kTailChunk);
    chunk.resize(static_cast<std::size_t>(end - from));
    if (::pread(fd, chunk.data(), chunk.size(), from) != static_cast<ssize_t>(chunk.size())) return;
    if (const std::size_t whole = whole_rows_end(chunk); whole != std::string_view::npos) {
      keep = from + static_cast<off_t>(whole);
      break;
    }
    end = from;
  }
  if (keep < status.st_size && ::ftruncate(fd, keep) != 0) errno = 0;
}

}  // namespace

std::string csv_timestamp() {
  char stamp[40] = {};
  date_format_now(stamp, sizeof stamp, "%Y-%m-%d,%H:%M:%S");
  return stamp;
}

std::size_t whole_rows_end(std::string_view tail) {
  const std::size_t data_end = tail.find_last_not_of('\0');
  if (data_end == std::string_view::npos) return std::string_view::npos;
  const std::size_t line_end = tail.rfind('\n', data_end);
  return line_end == std::string_view::npos ? std::string_view::npos : line_end + 1;
}

CsvFile::CsvFile(const std::string& path, const char* source, int line) noexcept
    : path_(path), source_(source), line_(line) {
  // One path look-up per call: the file's size, not a separate existence
  // test, tells a new file (sessions append to dozens of files per round).
  // Reached without links: a CSV replaced by a link is not written through.
  fd_ = safe_fs::open_file(path, O_RDWR | O_APPEND | O_CREAT, 0666);
  if (!fd_.valid()) {
    log_prefixed(LOG_ERR, source, line, "Could not open file '%s'", path.c_str());
    return;
  }
  auto& checked = checked_files();
  if (!checked.contains(path)) {
    if (checked.size() >= kMaxCheckedFiles) checked.clear();
    cut_to_whole_rows(fd_.get());
    checked.insert(path);
  }
  struct stat status {};
  if (::fstat(fd_.get(), &status) == 0) start_size_ = status.st_size;
  is_new_ = start_size_ == 0;
}

CsvFile& CsvFile::operator=(CsvFile&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::move(other.fd_);
    is_new_ = other.is_new_;
    start_size_ = other.start_size_;
    path_ = std::move(other.path_);
    source_ = other.source_;
    line_ = other.line_;
    pending_ = std::move(other.pending_);
  }
  return *this;
}

CsvFile::~CsvFile() { close(); }

bool CsvFile::close() noexcept {
  if (!fd_.valid()) return false;
  bool ok = true;
  std::string_view rest = pending_;
  while (!rest.empty()) {
    const ssize_t written = ::write(fd_.get(), rest.data(), rest.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = ENOSPC;
      ok = false;
      break;
    }
    rest.remove_prefix(static_cast<std::size_t>(written));
  }
  if (!ok) undo_failed_append();
  const bool closed = fd_.close();
  if (!closed && ok) {
    ok = false;
    undo_failed_append();
  }
  pending_.clear();
  if (ok) failing_files().erase(path_);
  return ok;
}

void CsvFile::undo_failed_append() noexcept {
  const int cause = errno;
  auto& failing = failing_files();
  if (!failing.contains(path_)) {
    errno = cause;
    log_prefixed(LOG_ERR, source_, line_, "Could not write file '%s'", path_.c_str());
    failing.insert(path_);
  }
  bool undone = false;
  if (fd_.valid()) {
    undone = ::ftruncate(fd_.get(), start_size_) == 0;
  } else if (const safe_fs::Fd again = safe_fs::open_file(path_, O_WRONLY); again.valid()) {
    undone = ::ftruncate(again.get(), start_size_) == 0;
  }
  if (!undone) {
    checked_files().erase(path_);  // the next first append cuts the half row
  }
  errno = 0;
}

bool CsvFile::sync_storage(const std::string& folder) noexcept {
  const safe_fs::Fd fd = safe_fs::open_folder(folder);
  if (!fd.valid()) return false;
  const bool ok = ::syncfs(fd.get()) == 0;
  errno = ok ? 0 : errno;
  return ok;
}

}  // namespace trelvik
