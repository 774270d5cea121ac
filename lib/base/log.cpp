#include "lib/base/log.hpp"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace trelvik {
namespace {

// Shared libraries (GIO among them) run constructors before main that leave
// errno at ENOENT; every program's first error line would then name that
// stale cause instead of "None". Shared-library constructors run before the
// program's own initializers, so this one comes after them.
[[maybe_unused]] const int kCleanErrnoAtStart = (errno = 0);

// An allocation that fails is fatal, as everywhere in the system. The handler
// goes first, so that a failure while logging ends in bad_alloc and so in
// abort, not in the handler again.
void out_of_memory() {
  std::set_new_handler(nullptr);
  FATAL_OUT_OF_MEMORY();
}

// Installed before main, in every program that logs: GLib's allocations
// already abort on failure, this covers the C++ ones.
[[maybe_unused]] const bool kNewHandlerAtStart = (std::set_new_handler(&out_of_memory), true);

std::string vformat(const char* fmt, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  if (needed <= 0) return {};
  std::string text(static_cast<std::size_t>(needed), '\0');
  std::vsnprintf(text.data(), text.size() + 1, fmt, args);
  return text;
}

void vlog_prefixed(int level, const char* file, int line, const char* fmt, va_list args) {
  // Read errno before anything here can change it.
  const int saved = errno;
  const char* cause = saved == 0 ? "None" : std::strerror(saved);
  char prefix[512];
  std::snprintf(prefix, sizeof prefix, "(%s:%d, errno: %s) ", file, line, cause);
  const std::string message = vformat(fmt, args);
  syslog(level, "%s%s", prefix, message.c_str());
  errno = 0;
}

}  // namespace

void open_program_log() { openlog("", LOG_PID | LOG_CONS, LOG_USER); }

void log_prefixed(int level, const char* file, int line, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  vlog_prefixed(level, file, line, fmt, args);
  va_end(args);
}

void log_fatal(const char* file, int line, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  vlog_prefixed(LOG_EMERG, file, line, fmt, args);
  va_end(args);
  std::abort();
}

int bounded_format(const char* file, int line, char* buffer, std::size_t size, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const int written = std::vsnprintf(buffer, size, fmt, args);
  va_end(args);
  if (written < 0 || static_cast<std::size_t>(written) >= size) {
    log_fatal(file, line, "snprintf for %s returned %d, expected between 0 and %zu", fmt, written, size);
  }
  return written;
}

}  // namespace trelvik
