// trelvik_eventlistener: turns the device's event text on standard input into
// one system log line per event. It ends at the end of its input.
#include <cstdio>

#include "lib/base/log.hpp"
#include "lib/device/eventlistener.hpp"

int main() {
  trelvik::open_program_log();
  return trelvik::eventlistener_run(stdin);
}
