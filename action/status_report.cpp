// CGI action: the application's state and its stored sessions as JSON.
#include <cstdio>

#include "lib/base/log.hpp"
#include "lib/web/status_report.hpp"

int main(int argc, char** argv) {
  trelvik::open_program_log();
  if (argc != 2) {
    std::fprintf(stderr, "Usage: %s <serial_number>\n", argc > 0 ? argv[0] : "status_report");
    return 1;
  }
  trelvik::status_report_print(argv[1]);
  return 0;
}
