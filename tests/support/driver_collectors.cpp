// Runs the collectors and snapshots of lib/collect/filehandler on the emulated camera.
// Commands come on standard input, one a line, fields separated by tabs, so
// that one process keeps the collectors' state across calls (the network
// rate needs a previous sample) and no argument shows in the process list:
//   net_dev|streams|radar|meminfo|load|zeda <session path>
//   invoke <folder> <script name> <0|1 quiet>
//   serverreport <session path> <storage id, empty for internal> <user> <password>
// After each command the driver prints "done" and flushes, so a test can
// change the device between calls.
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "lib/base/log.hpp"
#include "lib/base/pipe.hpp"
#include "lib/base/sysutil.hpp"
#include "lib/collect/filehandler.hpp"

namespace {

std::vector<std::string> split_tabs(const std::string& line) {
  std::vector<std::string> fields(1);
  for (const char c : line) {
    if (c == '\t') {
      fields.emplace_back();
    } else if (c != '\n') {
      fields.back() += c;
    }
  }
  return fields;
}

using SessionCommand = void (*)(const char*);
const std::map<std::string, SessionCommand> kSessionCommands = {
    {"net_dev", trelvik::store_proc_net_dev},
    {"streams", trelvik::store_video_stream_history_no_retention},
    {"radar", trelvik::store_radar_data},
    {"meminfo", trelvik::store_proc_meminfo},
    {"load", trelvik::store_load_avg_info_no_retention},
    {"zeda", trelvik::zeda_monitor_status_snapshot},
};

bool run(const std::vector<std::string>& f) {
  using namespace trelvik;
  const std::string& what = f[0];
  if (const auto found = kSessionCommands.find(what); found != kSessionCommands.end() && f.size() == 2) {
    found->second(f[1].c_str());
    return true;
  }
  if (what == "invoke" && f.size() == 4) {
    shellscript_invoker(f[1].c_str(), f[2].c_str(), f[3] == "1");
    return true;
  }
  if (what == "serverreport" && f.size() == 5) {
    monitoring_session session;
    session.session_path = f[1];
    if (!f[2].empty()) session.storage_id = f[2];
    sysutil_hide_secret(f[4]);
    create_serverreport_snapshot(session, f[3].c_str(), f[4].c_str());
    return true;
  }
  return false;
}

}  // namespace

int main() {
  trelvik::open_program_log();
  std::string line;
  while (trelvik::read_whole_line(stdin, line)) {
    if (!run(split_tabs(line))) {
      std::fprintf(stderr, "driver_collectors: bad command: %s", line.c_str());
      return 2;
    }
    std::puts("done");
    std::fflush(stdout);
  }
  return 0;
}
