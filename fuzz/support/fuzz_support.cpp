#include "fuzz/support/fuzz_support.hpp"

#include <syslog.h>

#include <cstdarg>
#include <cstdio>

#include "lib/parse/text.hpp"

// The parsers log through syslog; while fuzzing, the lines are formatted (so
// that a bad argument still shows) and dropped instead of flooding the log.
extern "C" void syslog(int, const char* fmt, ...) {
  char line[1024];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(line, sizeof line, fmt, args);
  va_end(args);
}

extern "C" void openlog(const char*, int, int) {}

namespace trelvik::fuzz {

std::vector<std::string> lines_of(std::string_view text) {
  std::vector<std::string> lines;
  for (const std::string_view line : split_lines(text)) lines.emplace_back(line);
  return lines;
}

}  // namespace trelvik::fuzz
