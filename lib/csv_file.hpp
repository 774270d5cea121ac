// The CSV time-series file that every collector appends to: one row (or a
// few) per call, the header only into a new file, opened and closed per call.
#pragma once

#include <string>
#include <string_view>

namespace trelvik {

// The Date and Time columns of a row taken now ("%Y-%m-%d,%H:%M:%S"); empty
// (logged) when the time cannot be formatted.
std::string csv_timestamp();

class CsvFile {
 public:
  // Opens `path` for appending (created when missing, close-on-exec: a
  // collector may run a command while its file is open). A file that cannot
  // be opened logs "Could not open file '%s'" in the name of the calling
  // source and line.
  explicit CsvFile(const std::string& path, const char* source = __builtin_FILE(),
                   int line = __builtin_LINE()) noexcept;
  CsvFile(const CsvFile&) = delete;
  CsvFile& operator=(const CsvFile&) = delete;
  ~CsvFile();

  bool is_open() const noexcept { return fd_ >= 0; }
  // No bytes yet: the caller puts the header first.
  bool is_new() const noexcept { return is_new_; }
  // Collects text; it reaches the file at close() in one write, so a reader
  // never sees half a row.
  void put(std::string_view text) { pending_ += text; }
  // Writes what was put and closes; false when any of it was lost.
  bool close() noexcept;

 private:
  int fd_ = -1;
  bool is_new_ = false;
  std::string pending_;
};

}  // namespace trelvik
