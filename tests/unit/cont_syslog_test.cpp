#include "lib/device/qorm_cont_syslog.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
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
struct LogRoot : test::DeviceRoot {
  LogRoot() {
    write("/var/log/error.log", "b error\n");
    write("/var/log/warning.log", "a warning\nb error\n");
    write("/var/log/info.log", "c info\n");
    fs::create_directories(path("/usr/bin"));
    fs::create_symlink("/usr/bin/tail", path("/usr/bin/tail"));
  }
};

// Lines written once `pid` has all three log files open reach the capture;
// the destructor ends a follower that a failed assertion left running.
struct Follower {
  pid_t pid;
  ~Follower() {
    if (pid > 0 && kill(pid, SIGTERM) == 0) waitpid(pid, nullptr, 0);
  }
  bool follows_all_logs() const {
    int open_logs = 0;
    std::error_code ignored;
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ignored)) {
      open_logs += fs::read_symlink(fd.path(), ignored).string().find("/var/log/") != std::string::npos;
    }
    return open_logs == 3;
  }
  int exit_status() {
    int status = 0;
    const bool ended = waitpid(std::exchange(pid, 0), &status, 0) > 0;
    return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

TEST(ContSyslog, CapturesNewLinesUntilStopped) {
  LogRoot root;
  const std::string capture = root.path("/capture.log").string();
  Follower follower{qorm_cont_syslog_start(capture.c_str())};
  ASSERT_GT(follower.pid, 0);
  ASSERT_TRUE(poll_until([&] { return follower.follows_all_logs(); }));
  EXPECT_EQ(fs::status(capture).permissions(), fs::perms(0644));
  std::ofstream(root.path("/var/log/info.log"), std::ios::app) << "d new info\n";
  std::ofstream(root.path("/var/log/error.log"), std::ios::app) << "e new error\n";
  ASSERT_TRUE(poll_until([&] { return test::read_file(capture) == "d new info\ne new error\n"; }))
      << test::read_file(capture);

  const pid_t pid = std::exchange(follower.pid, 0);
  test::clear_log();
  qorm_cont_syslog_stop(pid);
  ASSERT_EQ(test::captured_log().size(), 1u);
  EXPECT_EQ(test::captured_log()[0].text, "Successfully sent SIGTERM to pid " + std::to_string(pid));
  EXPECT_FALSE(fs::exists("/proc/" + std::to_string(pid)));

  // A process that is gone, and process groups, are never waited for or signalled.
  for (const pid_t stale : {pid, 0, -1}) {
    test::clear_log();
    qorm_cont_syslog_stop(stale);
    ASSERT_EQ(test::captured_log().size(), 1u);
    EXPECT_TRUE(
        test::logged(LOG_ERR, ", errno: No such process) Could not send SIGTERM to pid " + std::to_string(stale)));
  }
}

TEST(ContSyslog, NoFollowerRunsWithoutItsCaptureOrItsTail) {
  LogRoot root;
  test::clear_log();
  EXPECT_EQ(qorm_cont_syslog_start(root.path("/no/such/dir/capture.log").c_str()), 0);
  EXPECT_TRUE(test::logged(LOG_ERR, "No such file or directory) Could not open file '" +
                                        root.path("/no/such/dir/capture.log").string() + "'"));
  EXPECT_FALSE(fs::exists(root.path("/no")));

  fs::remove(root.path("/usr/bin/tail"));
  test::clear_log();
  Follower no_tail{qorm_cont_syslog_start(root.path("/capture.log").c_str())};
  // Under qemu's user emulation the failed exec is seen only as the child's 127.
  if (no_tail.pid != 0) {
    EXPECT_EQ(no_tail.exit_status(), 127);
  } else {
    EXPECT_TRUE(test::logged(LOG_ERR, "Could not start '" + root.path("/usr/bin/tail").string() + "'"));
  }
}

TEST(ContSyslog, ResumeMergesMissedLines) {
  LogRoot root;
  const struct {
    const char* file;    // capture file name in the root
    const char* before;  // null: no capture file yet
    const char* merged;
  } cases[] = {
      {"fresh.log", nullptr, "a warning\nb error\nc info\n"},
      {"old.log", "b error\nz older\n", "a warning\nb error\nc info\nz older\n"},
      {"it's \"$(touch pwned)\" `x`.log", "y kept\n", "a warning\nb error\nc info\ny kept\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string capture = root.path(std::string("/") + c.file).string();
    if (c.before != nullptr) test::write_file(capture, c.before);
    Follower follower{qorm_cont_syslog_resume(capture.c_str())};
    ASSERT_GT(follower.pid, 0);
    ASSERT_TRUE(poll_until([&] { return follower.follows_all_logs(); }));
    EXPECT_EQ(test::read_file(capture), c.merged);
    EXPECT_FALSE(fs::exists(capture + ".tmp"));
  }
  EXPECT_FALSE(fs::exists(root.path("/pwned")) || fs::exists("pwned"));

  const std::string logs = root.path("/var/log/").string();
  EXPECT_EQ(cont_syslog_merge_command("/var/spool/storage/SD_DISK/syslog.txt"),
            "cat \"/var/spool/storage/SD_DISK/syslog.txt\" " + logs + "error.log " + logs + "warning.log " + logs +
                "info.log | sort | uniq > \"/var/spool/storage/SD_DISK/syslog.txt.tmp\" && mv "
                "\"/var/spool/storage/SD_DISK/syslog.txt.tmp\" \"/var/spool/storage/SD_DISK/syslog.txt\"");
}

}  // namespace
}  // namespace trelvik
