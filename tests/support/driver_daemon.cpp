// Drives the daemon's callbacks without waiting for real minutes. Commands on
// standard input, one per line; "done" answers each:
//   tick N        the monitoring tick with the tick counter at N
//   check         the 30-second scheduled PTZ check
//   consumption   the one-shot storage consumption report
//   counters      prints timer_count, ptz_starting_tick, connection_lost_count
//   heap          prints the bytes the allocator has handed out and not got back
//   dispatch      runs the main loop's sources that are due (the consumption
//                 report a tick scheduled), without waiting, as the daemon's
//                 loop would between ticks
// The API user is the first argument, the serial number the optional second
// (it names the session folders that archive recovery looks at), the password
// the first input line.
#include <glib.h>
#include <malloc.h>

#include <cinttypes>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

#include "daemon/schedule.hpp"
#include "daemon/state.hpp"
#include "daemon/tick.hpp"
#include "lib/base/log.hpp"
#include "lib/base/sysutil.hpp"

int main(int argc, char** argv) {
  using namespace trelvik;
  open_program_log();
  DaemonState& state = daemon_state();
  state.nemor_user = argc > 1 ? argv[1] : "root";
  state.serial_number = argc > 2 ? argv[2] : "";
  if (!read_secret_line(stdin, state.nemor_pass)) return 1;
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream words(line);
    std::string command;
    words >> command;
    if (command == "tick") {
      std::uint64_t n = 0;
      words >> n;
      state.timer_count = n;
      timer_callback(nullptr);
    } else if (command == "check") {
      scheduled_tasks_timer_callback(nullptr);
    } else if (command == "consumption") {
      storage_consumption_log_message(nullptr);
    } else if (command == "dispatch") {
      while (g_main_context_iteration(nullptr, FALSE)) {
      }
    } else if (command == "heap") {
      const struct mallinfo2 info = mallinfo2();
      std::printf("%zu\n", info.uordblks + info.hblkhd);
    } else if (command == "counters") {
      std::printf("%" PRIu64 " %" PRIu64 " %" PRIu64 "\n", static_cast<std::uint64_t>(state.timer_count),
                  state.ptz_starting_tick, state.connection_lost_count);
    }
    std::printf("done\n");
    std::fflush(stdout);
  }
  return 0;
}
