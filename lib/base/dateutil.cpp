#include "lib/base/dateutil.hpp"

#include <cstring>
#include <ctime>

#include "lib/base/log.hpp"

namespace trelvik {

void date_format_now(char* buffer, std::size_t buffer_size, const char* format) {
  const std::time_t now = std::time(nullptr);
  if (now == static_cast<std::time_t>(-1)) {
    LOG_ERROR("Could not get current time.");
    return;
  }
  struct tm local {};
  localtime_r(&now, &local);
  if (std::strftime(buffer, buffer_size, format, &local) == 0) {
    LOG_ERROR("The time string exceeds the given buffer, or is empty.");
    std::memset(buffer, 0, buffer_size);
  }
}

}  // namespace trelvik
