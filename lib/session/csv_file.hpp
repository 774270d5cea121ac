// The CSV time-series file that every collector appends to: one row (or a
// few) per call, the header only into a new file, opened and closed per call.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "lib/base/descriptor.hpp"

namespace trelvik {

// The Date and Time columns of a row taken now ("%Y-%m-%d,%H:%M:%S"); empty
// (logged) when the time cannot be formatted.
std::string csv_timestamp();

class CsvFile {
 public:
  // Opens `path` for appending (created when missing, close-on-exec: a
  // collector may run a command while its file is open), reached without
  // links (safe_fs): a link or anything but a regular file is not opened. A
  // file that cannot be opened logs "Could not open file '%s'" in the name
  // of the calling source and line. The first time a process opens a file, a tail that a
  // power cut or an earlier failure left (NUL bytes, a row without its line
  // end) is cut back to the last whole row.
  explicit CsvFile(const std::string& path, const char* source = __builtin_FILE(),
                   int line = __builtin_LINE()) noexcept;
  CsvFile(const CsvFile&) = delete;
  CsvFile& operator=(const CsvFile&) = delete;
  // Moving hands the open file and what was put over; the file moved onto
  // is closed first, as at the end of its scope.
  CsvFile(CsvFile&& other) noexcept = default;
  CsvFile& operator=(CsvFile&& other) noexcept;
  ~CsvFile();

  bool is_open() const noexcept { return fd_.valid(); }
  // No bytes yet: the caller puts the header first.
  bool is_new() const noexcept { return is_new_; }
  // Collects text; it reaches the file at close() in one write, so a reader
  // never sees half a row.
  void put(std::string_view text) { pending_ += text; }
  // Writes what was put and closes; false when any of it was lost. A failed
  // or short write is undone back to the file's previous end, and logged
  // once per file until an append to it succeeds again.
  bool close() noexcept;

  // Puts every file appended on the storage that holds `folder` on the card
  // (one syncfs): a row that the session counts as collected must survive a
  // power cut. False, with errno, when the storage could not be synced.
  static bool sync_storage(const std::string& folder) noexcept;

 private:
  void undo_failed_append() noexcept;

  Descriptor fd_;
  bool is_new_ = false;
  off_t start_size_ = 0;
  std::string path_;
  const char* source_ = nullptr;
  int line_ = 0;
  std::string pending_;
};

// The length of `tail` (the last bytes of a file) without a trailing block of
// NUL bytes and without a last row that lacks its line end; npos when no
// line end is in `tail` at all (the cut lies further back).
std::size_t whole_rows_end(std::string_view tail);

}  // namespace trelvik
