// Continuous syslog capture: a child process that follows the device's three
// text log files (across rotation) and appends every new line to a capture
// file of the caller's choice.
#pragma once

#include <sys/types.h>

#include <string>

namespace trelvik {

// Starts the follower (the device's tail, its output and errors appended to
// `log_path`, made 0644 when new); its process id, which the caller keeps and
// later passes to qorm_cont_syslog_stop, or 0 when `log_path` cannot be
// opened or no follower could be started (logged).
pid_t qorm_cont_syslog_start(const char* log_path);

// Merges what the capture missed (the capture file and the current log files
// sorted, adjacent repeats removed) into `log_path`, then starts a new
// follower as qorm_cont_syslog_start. A failed merge is only logged.
pid_t qorm_cont_syslog_resume(const char* log_path);

// Ends the follower `pid` and waits for it; failures are logged.
void qorm_cont_syslog_stop(pid_t pid);

// The merge command that qorm_cont_syslog_resume runs.
std::string cont_syslog_merge_command(const std::string& log_path);

}  // namespace trelvik
