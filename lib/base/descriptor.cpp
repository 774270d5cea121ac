#include "lib/base/descriptor.hpp"

#include <unistd.h>

namespace trelvik {

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

Descriptor::~Descriptor() { close(); }

bool Descriptor::close() noexcept { return fd_ < 0 || ::close(std::exchange(fd_, -1)) == 0; }

}  // namespace trelvik
