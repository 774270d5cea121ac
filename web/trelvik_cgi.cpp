// trelvik_cgi: the web server runs it as CGI for every request of the
// operator page; the request comes in the CGI environment.
#include <csignal>
#include <cstdlib>

#include "lib/base/log.hpp"
#include "lib/web/web_entry.hpp"

int main() {
  trelvik::open_program_log();
  // A browser that goes away mid-download must not kill the run with a signal.
  std::signal(SIGPIPE, SIG_IGN);
  return trelvik::web_entry_run(
      {std::getenv("REQUEST_METHOD"), std::getenv("QUERY_STRING"), std::getenv("HTTP_X_REQUESTED_WITH")});
}
