#include "lib/qorm_cont_syslog.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "tests/unit/support/test_support.hpp"

namespace trelvik {
namespace {

namespace fs = std::filesystem;

bool poll_until(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// A device root with the three log files and the device's tail.
struct LogRoot {
  test::DeviceRoot root;
  LogRoot() {
    root.write("/var/log/error.log", "b error\n");
    root.write("/var/log/warning.log", "a warning\nb error\n");
    root.write("/var/log/info.log", "c info\n");
    fs::create_directories(root.path("/usr/bin"));
    fs::create_symlink("/usr/bin/tail", root.path("/usr/bin/tail"));
  }
  void append(const std::string& name, const std::string& text) const {
    std::ofstream(root.path("/var/log/" + name), std::ios::app) << text;
  }
};

// True once `pid` has all three log files open: lines written from then on
// reach the capture.
bool follows_all_logs(pid_t pid) {
  int open_logs = 0;
  std::error_code ignored;
  for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ignored)) {
    const std::string target = fs::read_symlink(fd.path(), ignored).string();
    if (target.find("/var/log/") != std::string::npos) ++open_logs;
  }
  return open_logs == 3;
}

// Ends a follower that a failed assertion left running.
struct FollowerGuard {
  pid_t pid = 0;
  ~FollowerGuard() {
    if (pid > 0 && kill(pid, SIGTERM) == 0) waitpid(pid, nullptr, 0);
  }
  void stop() {
    qorm_cont_syslog_stop(pid);
    pid = 0;
  }
};

int exit_status_of(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

TEST(ContSyslog, CapturesNewLinesUntilStopped) {
  LogRoot logs;
  const std::string capture = logs.root.path("/capture.log").string();
  const pid_t pid = qorm_cont_syslog_start(capture.c_str());
  FollowerGuard guard{pid};
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(poll_until([&] { return follows_all_logs(pid); }));
  EXPECT_EQ(fs::status(capture).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
  logs.append("info.log", "d new info\n");
  logs.append("error.log", "e new error\n");
  ASSERT_TRUE(poll_until([&] { return test::read_file(capture) == "d new info\ne new error\n"; }))
      << test::read_file(capture);

  test::clear_log();
  guard.stop();
  EXPECT_TRUE(test::logged(LOG_DEBUG, "Successfully sent SIGTERM to pid " + std::to_string(pid)));
  EXPECT_EQ(test::captured_log().size(), 1u);
  EXPECT_FALSE(fs::exists("/proc/" + std::to_string(pid)));

  // A process id that no longer exists: the error, and no wait.
  test::clear_log();
  qorm_cont_syslog_stop(pid);
  EXPECT_TRUE(test::logged(LOG_ERR, ", errno: No such process) Could not send SIGTERM to pid " + std::to_string(pid)));
  EXPECT_FALSE(test::logged(LOG_DEBUG, "Successfully"));
}

TEST(ContSyslog, ChildFailures) {
  LogRoot logs;
  const std::string missing_dir = logs.root.path("/no/such/dir/capture.log").string();
  const pid_t unopened = qorm_cont_syslog_start(missing_dir.c_str());
  ASSERT_GT(unopened, 0);
  EXPECT_EQ(exit_status_of(unopened), 1);
  EXPECT_FALSE(fs::exists(logs.root.path("/no")));

  fs::remove(logs.root.path("/usr/bin/tail"));
  const std::string capture = logs.root.path("/capture.log").string();
  const pid_t no_tail = qorm_cont_syslog_start(capture.c_str());
  ASSERT_GT(no_tail, 0);
  EXPECT_EQ(exit_status_of(no_tail), 127);

  // Process groups are never signalled.
  test::clear_log();
  qorm_cont_syslog_stop(0);
  qorm_cont_syslog_stop(-1);
  EXPECT_TRUE(test::logged(LOG_ERR, "Could not send SIGTERM to pid 0"));
  EXPECT_TRUE(test::logged(LOG_ERR, "Could not send SIGTERM to pid -1"));
}

TEST(ContSyslog, ResumeMergesMissedLines) {
  LogRoot logs;
  struct Case {
    const char* what;
    const char* file;  // capture file name in the root
    const char* before;  // null: no capture file yet
    std::string merged;
  } cases[] = {
      {"no capture file yet", "fresh.log", nullptr, "a warning\nb error\nc info\n"},
      {"lines already captured", "old.log", "b error\nz older\n", "a warning\nb error\nc info\nz older\n"},
      {"a path that needs quoting", "it's \"$(touch pwned)\" `x`.log", "y kept\n",
       "a warning\nb error\nc info\ny kept\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string capture = logs.root.path(std::string("/") + c.file).string();
    if (c.before != nullptr) test::write_file(capture, c.before);
    const pid_t pid = qorm_cont_syslog_resume(capture.c_str());
    FollowerGuard guard{pid};
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(poll_until([&] { return follows_all_logs(pid); }));
    EXPECT_EQ(test::read_file(capture), c.merged);
    EXPECT_FALSE(fs::exists(capture + ".tmp"));
    guard.stop();
  }
  EXPECT_FALSE(fs::exists(logs.root.path("/pwned")));
  EXPECT_FALSE(fs::exists("pwned"));
}

TEST(ContSyslog, MergeCommandIsByteIdenticalForPlainPaths) {
  test::DeviceRoot root;
  const std::string logs = root.path("/var/log/").string();
  EXPECT_EQ(cont_syslog_merge_command("/var/spool/storage/SD_DISK/syslog.txt"),
            "cat \"/var/spool/storage/SD_DISK/syslog.txt\" " + logs + "error.log " + logs + "warning.log " + logs +
                "info.log | sort | uniq > \"/var/spool/storage/SD_DISK/syslog.txt.tmp\" && mv "
                "\"/var/spool/storage/SD_DISK/syslog.txt.tmp\" \"/var/spool/storage/SD_DISK/syslog.txt\"");
}

}  // namespace
}  // namespace trelvik
