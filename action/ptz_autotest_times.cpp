// CGI action: sets the clock times of the automatic PTZ test.
#include <cstdio>

#include "lib/base/log.hpp"
#include "lib/web/ptz_test.hpp"

int main(int argc, char** argv) {
  trelvik::open_program_log();
  if (argc != 2) {
    std::fprintf(stderr, "Usage: %s <times>\n", argc > 0 ? argv[0] : "ptz_autotest_times");
    return 1;
  }
  trelvik::ptz_autotest_times_answer(argv[1]);
  return 0;
}
