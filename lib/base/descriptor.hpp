// A file descriptor, and an open folder's listing, each owned by one object:
// closed at the latest when it goes out of scope, moved but never copied.
#pragma once

#include <dirent.h>

#include <memory>
#include <utility>

namespace trelvik {

class Descriptor {
 public:
  Descriptor() noexcept = default;
  explicit Descriptor(int fd) noexcept : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept;
  ~Descriptor();

  int get() const noexcept { return fd_; }
  bool valid() const noexcept { return fd_ >= 0; }
  // Hands the descriptor over to the caller, who closes it.
  int release() noexcept { return std::exchange(fd_, -1); }
  // False (errno set) when the close reported an error.
  bool close() noexcept;

 private:
  int fd_ = -1;
};

struct DirCloser {
  void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};
// An opendir() stream; null when the folder could not be opened.
using DirHandle = std::unique_ptr<DIR, DirCloser>;

}  // namespace trelvik
