#include "lib/device/qorm_cont_syslog.hpp"

#include <fcntl.h>
#include <syslog.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <vector>

#include "lib/base/descriptor.hpp"
#include "lib/base/log.hpp"
#include "lib/base/process.hpp"
#include "lib/base/shell_quote.hpp"
#include "lib/base/sysutil.hpp"
#include "lib/names/device_paths.hpp"

namespace trelvik {
namespace {

constexpr std::array<const char*, 3> kLogFiles = {"error.log", "warning.log", "info.log"};

// -n0: no old lines; -q: no file headers; -F: follow by name across rotation.
std::vector<std::string> follower_argv() {
  std::vector<std::string> argv{device::tail(), "-n0", "-q", "-F"};
  for (const char* name : kLogFiles) argv.push_back(device::var_log(name));
  return argv;
}

}  // namespace

pid_t qorm_cont_syslog_start(const char* log_path) {
  // The capture is opened here, so that a follower never runs without it.
  const Descriptor capture(::open(log_path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  if (capture.get() < 0) {
    LOG_ERROR("Could not open file '%s'", log_path);
    return 0;
  }
  ProcessSpec spec{follower_argv(), {}, child_environment()};
  spec.keep_input = true;
  spec.output_fd = capture.get();
  spec.error_fd = capture.get();
  const RunningProcess follower = start_process(spec);
  return follower.pid > 0 ? follower.pid : 0;
}

std::string cont_syslog_merge_command(const std::string& log_path) {
  const std::string capture = shell_escape_double(log_path);
  const std::string temporary = shell_escape_double(log_path + ".tmp");
  std::string command = "cat \"" + capture + "\"";
  for (const char* name : kLogFiles) command += " " + shell_word(device::var_log(name));
  command += " | sort | uniq > \"" + temporary + "\" && mv \"" + temporary + "\" \"" + capture + "\"";
  return command;
}

pid_t qorm_cont_syslog_resume(const char* log_path) {
  if (!qorm_system(cont_syslog_merge_command(log_path).c_str())) {
    syslog(LOG_WARNING, "Failed to copy missed log lines: Could not create child process.");
  }
  return qorm_cont_syslog_start(log_path);
}

void qorm_cont_syslog_stop(pid_t pid) {
  // 0 and negative ids name process groups: kill would end the caller's own
  // group or every process it may signal. No follower has such an id.
  if (pid <= 0) {
    errno = ESRCH;
    LOG_ERROR("Could not send SIGTERM to pid %d", static_cast<int>(pid));
    return;
  }
  if (kill(pid, SIGTERM) != 0) {
    LOG_ERROR("Could not send SIGTERM to pid %d", static_cast<int>(pid));
    return;
  }
  syslog(LOG_DEBUG, "Successfully sent SIGTERM to pid %d", static_cast<int>(pid));
  if (wait_process(pid) == -1) {
    LOG_ERROR("Could not wait for pid %d, waitpid returned %d.", static_cast<int>(pid), -1);
  }
}

}  // namespace trelvik
