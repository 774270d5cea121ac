// CGI action: clears both automatic PTZ test settings. It opens no log of its
// own and ignores its arguments.
#include "lib/web/ptz_test.hpp"

int main() {
  trelvik::ptz_autotest_stop_answer();
  return 0;
}
