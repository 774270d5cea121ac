#include "lib/device/qorm_nettools.hpp"

#include <syslog.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "lib/base/log.hpp"
#include "lib/base/pipe.hpp"
#include "lib/base/shell_quote.hpp"

namespace trelvik {
namespace {

// Output is copied in pieces of at most 2047 bytes, each printed with its own
// extra line feed, as the tools' output always was.
constexpr int kLineBuffer = 2048;

// Of a run of unanswered hops only the first is logged; `previous_unanswered`
// carries the run from one line to the next.
bool traceroute_line_is_logged(std::string_view line, bool& previous_unanswered) {
  const bool unanswered = line.find("* * *") != std::string_view::npos;
  const bool logged = !(unanswered && previous_unanswered);
  previous_unanswered = unanswered;
  return logged;
}

}  // namespace

int qorm_nettools_ping(const char* address) {
  ReadPipe pipe = open_or_die("ping \"" + shell_escape_double(address) + "\" 2>&1");
  char line[kLineBuffer];
  bool alive = false;
  while (std::fgets(line, kLineBuffer, pipe.stream()) != nullptr) {
    std::printf("%s\n", line);
    if (std::strstr(line, "is alive") != nullptr) alive = true;
  }
  syslog(LOG_INFO, "Network Tools: Ping %s %s", address, alive ? "successful" : "failed");
  return pipe.close();
}

int qorm_nettools_traceroute(const char* command) {
  ReadPipe pipe = open_or_die(command);
  char line[kLineBuffer];
  bool previous_unanswered = false;
  while (std::fgets(line, kLineBuffer, pipe.stream()) != nullptr) {
    std::printf("%s\n", line);
    if (traceroute_line_is_logged(line, previous_unanswered)) syslog(LOG_INFO, "Traceroute: %s", line);
  }
  return pipe.close();
}

}  // namespace trelvik
