#include "lib/device/qorm_cont_syslog.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>

#include "lib/names/device_paths.hpp"
#include "lib/base/log.hpp"
#include "lib/base/shell_quote.hpp"
#include "lib/base/sysutil.hpp"

namespace trelvik {
namespace {

constexpr std::array<const char*, 3> kLogFiles = {"error.log", "warning.log", "info.log"};
// The shell's status for a program that could not be run.
constexpr int kExecFailed = 127;

// Everything the child needs is built before fork: after it only
// async-signal-safe calls are allowed.
struct FollowerCommand {
  std::string program;
  std::array<std::string, kLogFiles.size()> logs;

  FollowerCommand() : program(device::tail()) {
    for (std::size_t i = 0; i < kLogFiles.size(); ++i) logs[i] = device::var_log(kLogFiles[i]);
  }
};

[[noreturn]] void run_follower(const char* log_path, const FollowerCommand& command) {
  const int fd = open(log_path, O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd < 0) _exit(1);
  dup2(fd, STDOUT_FILENO);
  dup2(fd, STDERR_FILENO);
  if (fd != STDOUT_FILENO && fd != STDERR_FILENO) close(fd);
  // -n0: no old lines; -q: no file headers; -F: follow by name across rotation.
  const char* argv[] = {command.program.c_str(), "-n0", "-q", "-F", command.logs[0].c_str(),
                        command.logs[1].c_str(), command.logs[2].c_str(), nullptr};
  execv(argv[0], const_cast<char* const*>(argv));
  _exit(kExecFailed);
}

}  // namespace

pid_t qorm_cont_syslog_start(const char* log_path) {
  const FollowerCommand command;
  const pid_t pid = fork();
  if (pid < 0) {
    LOG_ERROR("Could not fork.");
    return 0;
  }
  if (pid == 0) run_follower(log_path, command);
  return pid;
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
  int status = 0;
  pid_t waited;
  do {
    waited = waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  if (waited != pid) {
    LOG_ERROR("Could not wait for pid %d, waitpid returned %d.", static_cast<int>(pid), static_cast<int>(waited));
  }
}

}  // namespace trelvik
