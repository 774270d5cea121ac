// Where the export goes: a file (gzip when its name ends in ".gz") or
// standard output ("-"). A file is written under a temporary name beside it
// and renamed into place only when it is complete: an export that fails
// leaves no file that looks whole.
#pragma once

#include <zlib.h>

#include <memory>
#include <string>
#include <string_view>

namespace trelvik {

class ExportOutput {
 public:
  ExportOutput() = default;
  ExportOutput(const ExportOutput&) = delete;
  ExportOutput& operator=(const ExportOutput&) = delete;
  ~ExportOutput();

  // False, with `error`, when the temporary file cannot be made.
  bool open(const std::string& path, std::string& error);
  // Buffers and writes; false once anything failed.
  bool write(std::string_view text);
  // Flushes, ends the gzip stream, syncs and renames into place.
  bool finish(std::string& error);

 private:
  bool put(std::string_view bytes);
  bool deflate_out(int flush);
  void abandon() noexcept;

  std::string path_;
  std::string temporary_;
  int fd_ = -1;
  bool to_stdout_ = false;
  bool gzip_ = false;
  bool failed_ = false;
  std::unique_ptr<z_stream> zip_;
  std::string pending_;
};

}  // namespace trelvik
