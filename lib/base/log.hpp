// The one logging entry of the library: every program writes to the system
// log, error lines carry "(file:line, errno: text) " and clear errno after
// themselves so that a later line never shows a stale cause.
#pragma once

#include <syslog.h>

#include <cstddef>

namespace trelvik {

// openlog("", LOG_PID | LOG_CONS, LOG_USER): every program but ptz_autotest_stop.
void open_program_log();

// Logs the prefixed line at `level`, then sets errno to 0.
[[gnu::format(printf, 4, 5)]] void log_prefixed(int level, const char* file, int line, const char* fmt, ...);

// Logs the prefixed line at emergency level and aborts.
[[noreturn, gnu::format(printf, 3, 4)]] void log_fatal(const char* file, int line, const char* fmt, ...);

// printf into a caller's fixed buffer; a result that does not fit is fatal
// with the "snprintf for ..." line. Returns the length written.
[[gnu::format(printf, 5, 6)]] int bounded_format(const char* file, int line, char* buffer, std::size_t size,
                                                 const char* fmt, ...);

}  // namespace trelvik

#define LOG_ERROR(...) ::trelvik::log_prefixed(LOG_ERR, __FILE__, __LINE__, __VA_ARGS__)
#define LOG_FATAL(...) ::trelvik::log_fatal(__FILE__, __LINE__, __VA_ARGS__)
#define FATAL_OUT_OF_MEMORY() LOG_FATAL("Out of memory.")
#define FATAL_POPEN(command) LOG_FATAL("Could not popen '%s'", (command))
#define BOUNDED_FORMAT(buffer, size, ...) ::trelvik::bounded_format(__FILE__, __LINE__, (buffer), (size), __VA_ARGS__)
