#include "lib/base/process.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "lib/base/pipe.hpp"
#include "tests/unit/support/test_support.hpp"

namespace trelvik {
namespace {

ProcessSpec shell(const std::string& script, std::string_view input = {}, int limit = 0) {
  return {{"/bin/sh", "-c", script}, input, {"PATH=/usr/bin:/bin"}, limit, true};
}

int exit_status(int wait_status) { return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1; }

TEST(Process, InputAndOutputFlowTogetherWhateverTheirSize) {
  // More than a pipe holds each way: a runner that wrote all input first
  // would wait for ever on a child that waits for its output to be read.
  const std::string input(1 << 20, 'x');
  const ProcessResult result = run_process(shell("cat; printf end", input));
  EXPECT_EQ(exit_status(result.wait_status), 0);
  EXPECT_EQ(result.output, input + "end");
  EXPECT_FALSE(result.timed_out);
}

TEST(Process, OutputOnAGivenDescriptorGoesThereNotToTheResult) {
  FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  ProcessSpec spec = shell("cat", "report\n");
  spec.output_fd = ::fileno(file);
  const ProcessResult result = run_process(spec);
  EXPECT_EQ(exit_status(result.wait_status), 0);
  EXPECT_EQ(result.output, "");
  char text[16] = {};
  EXPECT_EQ(::pread(::fileno(file), text, sizeof text, 0), 7);
  EXPECT_STREQ(text, "report\n");
  std::fclose(file);
}

TEST(Process, AChildThatReadsNothingNeitherBlocksNorKillsTheCaller) {
  signal(SIGPIPE, SIG_DFL);
  const ProcessResult result = run_process(shell("exec 0<&-; exit 3", std::string(1 << 20, 'x')));
  EXPECT_EQ(exit_status(result.wait_status), 3);
}

TEST(Process, OnlyTheGivenEnvironmentAndNoShellReachTheChild) {
  setenv("PROCESS_TEST_SECRET", "s3cret", 1);
  const ProcessResult result =
      run_process({{"/usr/bin/env"}, {}, environment_subset(environ, {"PATH"}, {"PROCESS_TEST_K"}), 0, true});
  unsetenv("PROCESS_TEST_SECRET");
  EXPECT_EQ(result.output.find("s3cret"), std::string::npos);
  EXPECT_NE(result.output.find("PATH="), std::string::npos);
  const ProcessResult echoed = run_process({{"/bin/echo", "$(touch pwned)", "a;b"}, {}, {}, 0, true});
  EXPECT_EQ(echoed.output, "$(touch pwned) a;b\n");

  const char* const from[] = {"PATH=/bin", "TRELVIK_X=1", "TRELVIK=2", "HTTP_AUTHORIZATION=Basic x", "TZ", nullptr};
  EXPECT_EQ(environment_subset(from, {"PATH", "TZ"}, {"TRELVIK_"}),
            (std::vector<std::string>{"PATH=/bin", "TRELVIK_X=1"}));
}

TEST(Process, AChildPastItsLimitIsKilled) {
  const auto started = std::chrono::steady_clock::now();
  const ProcessResult result = run_process(shell("exec sleep 30", {}, 1));
  EXPECT_TRUE(result.timed_out);
  EXPECT_TRUE(WIFSIGNALED(result.wait_status) && WTERMSIG(result.wait_status) == SIGKILL);
  ProcessSpec quiet = shell("exec sleep 30", {}, 1);
  quiet.capture_output = false;
  EXPECT_TRUE(run_process(quiet).timed_out);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  EXPECT_TRUE(test::logged(LOG_ERR, "'/bin/sh' did not end within 1 seconds: killed"));
}

TEST(Process, AMissingProgramIsReportedAsNotExecutable) {
  const ProcessResult result = run_process({{"/nonexistent/program"}, {}, {}, 0, true});
  // Under qemu's user emulation posix_spawn's vfork is a fork and cannot hear
  // of the failed exec: the child ends with the shell's 127 instead, which
  // every caller already judges as a program that could not be executed.
  if (result.wait_status != kNotExecutedStatus) {
    EXPECT_EQ(result.wait_status, -1);
    EXPECT_TRUE(is_not_executable(result.spawn_error));
    EXPECT_TRUE(test::logged(LOG_ERR, "Could not start '/nonexistent/program'"));
  }
  RunningProcess running = start_process(shell("printf 'a\\nb\\n'"));
  ReadPipe pipe(::fdopen(running.output.release(), "r"), running.pid);
  std::string line, text;
  while (pipe.read_line(line)) text += line;
  EXPECT_EQ(text, "a\nb\n");
  EXPECT_EQ(pipe.close(), 0);
}

TEST(Process, ShellCommandsKeepTheCallersInputAndSeeOnlyTheWhitelistedEnvironment) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ASSERT_EQ(::write(fds[1], "typed\n", 6), 6);
  ::close(fds[1]);
  const int saved_input = ::dup(STDIN_FILENO);
  ::dup2(fds[0], STDIN_FILENO);
  ::close(fds[0]);
  setenv("TRELVIK_PROCESS_TEST", "kept", 1);
  setenv("PROCESS_TEST_SECRET", "s3cret", 1);
  ReadPipe pipe("read line; echo \"$line $TRELVIK_PROCESS_TEST ${PROCESS_TEST_SECRET-gone}\"; echo second; exit 4");
  std::string first, second, end;
  EXPECT_TRUE(pipe.read_line(first));
  EXPECT_TRUE(pipe.read_line(second));
  EXPECT_FALSE(pipe.read_line(end));
  EXPECT_EQ(exit_status(pipe.close()), 4);
  ::dup2(saved_input, STDIN_FILENO);
  ::close(saved_input);
  unsetenv("TRELVIK_PROCESS_TEST");
  unsetenv("PROCESS_TEST_SECRET");
  EXPECT_EQ(first, "typed kept gone\n");
  EXPECT_EQ(second, "second\n");
}

TEST(Process, ADetachedJobOutlivesItsCallerAndHoldsNothingOfIt) {
  test::DeviceRoot root;
  const std::string report = root.path("/report").string();
  FILE* held = std::tmpfile();  // a descriptor of the caller, open across exec
  ASSERT_NE(held, nullptr);
  const int held_fd = ::fileno(held);
  const pid_t caller = ::getpid();
  const pid_t caller_session = ::getsid(0);
  ASSERT_TRUE(start_detached([&] {
    const bool closed = ::fcntl(held_fd, F_GETFD) < 0;
    const bool own_session = ::getsid(0) == ::getpid() && ::getsid(0) != caller_session;
    const bool orphan = ::getppid() != caller;
    FILE* out = std::fopen((report + ".tmp").c_str(), "w");
    if (out == nullptr) return false;
    std::fprintf(out, "%d %d %d", closed, own_session, orphan);
    std::fclose(out);
    return std::rename((report + ".tmp").c_str(), report.c_str()) == 0;
  }));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!std::filesystem::exists(report) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::fclose(held);
  EXPECT_EQ(test::read_file(report), "1 1 1");
  // The parent in between was waited for: no child of the caller is left.
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
}

}  // namespace
}  // namespace trelvik
