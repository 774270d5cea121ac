// end_monitor_session <nemor_user>
// The device API password arrives as one line on standard input. Ends the
// active monitoring session and answers one CGI reply; the archive may still
// be written in the background afterwards.
#include <syslog.h>

#include <cstdio>
#include <string>

#include "lib/base/atomic_file.hpp"
#include "lib/base/log.hpp"
#include "lib/base/sysutil.hpp"
#include "lib/lifecycle/session.hpp"
#include "lib/names/device_paths.hpp"
#include "lib/session/session_globals.hpp"
#include "lib/web/httputil.hpp"

namespace {

using namespace trelvik;

constexpr const char* kCouldNotEnd = "Error: Could not end monitoring session.";

int end_monitor_session_action(int argc, char** argv) {
  open_program_log();
  if (argc != 2) {
    std::fprintf(stderr, "Usage: %s <nemor_user>\n", argv[0]);
    return 1;
  }
  std::string nemor_pass;
  if (!read_secret_line(stdin, nemor_pass)) {
    LOG_ERROR("Failed to read nemor_password from stdin.");
    return 1;
  }
  syslog(LOG_DEBUG, "action_end_monitor_session");
  // The lock that begin takes: of two ends at one moment the second finds
  // the session ended, and archive recovery leaves a session alone while its
  // end is in progress.
  const FileLock lock(device::localdata_dir());
  const SessionLoad loaded = monitoring_session_load_checked();
  const SessionPtr& session = loaded.session;
  if (loaded.unreadable) {
    // The file may well hold the running session: it is not "no session".
    http_print_bad_request(kCouldNotEnd);
  } else if (monitoring_session_is_active(session.get())) {
    if (end_monitor_session(session.get(), argv[1], nemor_pass.c_str())) {
      http_print_reply(kHttpTextOk, "Session deactivated.");
      syslog(LOG_DEBUG, "Session deactivation done.");
    } else {
      http_print_bad_request(kCouldNotEnd);  // the session goes on
    }
  } else {
    LOG_ERROR("No monitor session is activated, can not deactive.");
    http_print_reply(kHttpTextOk, "No monitor session is activated, can not deactivate anything.");
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return end_monitor_session_action(argc, argv); }
