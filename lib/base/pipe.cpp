#include "lib/base/pipe.hpp"

#include <sys/wait.h>

#include <cstdlib>
#include <utility>

#include "lib/base/log.hpp"
#include "lib/base/process.hpp"

namespace trelvik {

bool read_whole_line(FILE* stream, std::string& line) {
  line.clear();
  if (stream == nullptr) return false;
  int c;
  while ((c = std::getc(stream)) != EOF) {
    line += static_cast<char>(c);
    if (c == '\n') break;
  }
  return !line.empty();
}

bool read_text_file(const std::string& path, std::string& text) {
  File file(path.c_str(), "re");
  if (!file.is_open()) return false;
  char chunk[4096];
  std::size_t count;
  while ((count = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) text.append(chunk, count);
  if (std::ferror(file.get()) != 0) {
    const int saved = errno;
    text.clear();
    errno = saved;
    return false;
  }
  return true;
}

ReadPipe::ReadPipe(const std::string& command) noexcept {
  ProcessSpec spec = shell_command(command);
  spec.capture_output = true;
  RunningProcess child = start_process(spec);
  if (child.pid <= 0) {
    // A shell that cannot be executed gives the exit status it would have given.
    if (is_not_executable(child.spawn_error)) {
      stream_ = std::fopen("/dev/null", "re");
      pid_ = 0;
    }
    errno = child.spawn_error;
    return;
  }
  stream_ = ::fdopen(child.output.get(), "r");
  if (stream_ == nullptr) {
    const int saved = errno;
    child.output.close();
    wait_process(child.pid);
    errno = saved;
    return;
  }
  child.output.release();
  pid_ = child.pid;
}

ReadPipe open_or_die(const std::string& command, const char* source, int line) {
  ReadPipe pipe(command);
  if (!pipe.is_open()) log_fatal(source, line, "Could not popen '%s'", command.c_str());
  return pipe;
}

ReadPipe::ReadPipe(ReadPipe&& other) noexcept
    : stream_(std::exchange(other.stream_, nullptr)),
      pid_(std::exchange(other.pid_, -1)),
      buffer_(std::exchange(other.buffer_, nullptr)),
      capacity_(std::exchange(other.capacity_, 0)) {}

ReadPipe& ReadPipe::operator=(ReadPipe&& other) noexcept {
  if (this != &other) {
    close();
    std::free(buffer_);
    stream_ = std::exchange(other.stream_, nullptr);
    pid_ = std::exchange(other.pid_, -1);
    buffer_ = std::exchange(other.buffer_, nullptr);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

ReadPipe::~ReadPipe() {
  close();
  std::free(buffer_);
}

bool ReadPipe::read_line(std::string& line) {
  line.clear();
  if (stream_ == nullptr) return false;
  const ssize_t length = getline(&buffer_, &capacity_, stream_);
  if (length < 0) return false;
  line.assign(buffer_, static_cast<std::size_t>(length));
  return true;
}

int ReadPipe::close() noexcept {
  if (stream_ == nullptr) return -1;
  std::fclose(std::exchange(stream_, nullptr));
  const pid_t pid = std::exchange(pid_, -1);
  if (pid < 0) return -1;
  return pid == 0 ? kNotExecutedStatus : wait_process(pid);
}

File::File(const char* path, const char* mode) noexcept : stream_(std::fopen(path, mode)) {}

File::File(File&& other) noexcept : stream_(std::exchange(other.stream_, nullptr)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    stream_ = std::exchange(other.stream_, nullptr);
  }
  return *this;
}

File::~File() { close(); }

bool File::close() noexcept {
  if (stream_ == nullptr) return false;
  const bool clean = std::ferror(stream_) == 0;
  const bool closed = std::fclose(stream_) == 0;
  stream_ = nullptr;
  return clean && closed;
}

}  // namespace trelvik
