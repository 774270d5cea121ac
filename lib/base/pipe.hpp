// A read pipe on a command whose output is parsed. Lines are read
// whole, whatever their length. close() returns the wait status, because each
// caller judges the command's exit in its own way.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>

namespace trelvik {

class ReadPipe {
 public:
  ReadPipe() noexcept = default;
  // Starts `command` through the shell (lib/base/process's shell_command,
  // its output read here); check is_open() for failure (errno set).
  explicit ReadPipe(const std::string& command) noexcept;
  // Takes over the output of a child started without a shell (lib/base/process);
  // close() waits for that child. Pid 0 stands for a program that could not
  // be executed: close() gives exit status 127, as the shell would have.
  ReadPipe(FILE* stream, pid_t pid) noexcept : stream_(stream), pid_(pid) {}
  ReadPipe(const ReadPipe&) = delete;
  ReadPipe& operator=(const ReadPipe&) = delete;
  ReadPipe(ReadPipe&& other) noexcept;
  ReadPipe& operator=(ReadPipe&& other) noexcept;
  ~ReadPipe();

  bool is_open() const noexcept { return stream_ != nullptr; }
  FILE* stream() const noexcept { return stream_; }
  // Reads the next line, line feed kept; false at the end of the output.
  bool read_line(std::string& line);
  // Waits for the command: its wait status, or -1 when it cannot be had.
  int close() noexcept;

 private:
  FILE* stream_ = nullptr;
  pid_t pid_ = -1;  // the child of lib/base/process; 0 for one that could not be executed
  char* buffer_ = nullptr;
  std::size_t capacity_ = 0;
};

// A ReadPipe on `command` that is open: one that cannot be started is fatal,
// logged in the name of the calling source and line.
ReadPipe open_or_die(const std::string& command, const char* source = __builtin_FILE(), int line = __builtin_LINE());

// Reads one whole line (line feed kept) from `stream` into `line`; false at
// the end of the stream when nothing was read.
bool read_whole_line(FILE* stream, std::string& line);

// Reads the whole file into `text` (files under /proc report no size, so it
// is read to its end); false when it cannot be opened or a read fails, errno
// telling why. A file that could not be read to its end is no content at all:
// a failed read empties `text`, so that nobody writes a partial copy back.
bool read_text_file(const std::string& path, std::string& text);

// RAII for FILE* opened with fopen; close() reports whether every write
// reached the file.
class File {
 public:
  File() noexcept = default;
  File(const char* path, const char* mode) noexcept;
  // Takes over an opened stream (null: not open).
  explicit File(FILE* stream) noexcept : stream_(stream) {}
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  ~File();

  bool is_open() const noexcept { return stream_ != nullptr; }
  FILE* get() const noexcept { return stream_; }
  bool read_line(std::string& line) { return read_whole_line(stream_, line); }
  // True when the stream had no error and fclose succeeded.
  bool close() noexcept;

 private:
  FILE* stream_ = nullptr;
};

}  // namespace trelvik
