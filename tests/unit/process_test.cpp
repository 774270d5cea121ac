#include "lib/base/process.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
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
  const ProcessResult result = run_process(
      {{"/usr/bin/env"}, {}, environment_subset(environ, {"PATH"}, {"PROCESS_TEST_K"}), 0, true});
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

}  // namespace
}  // namespace trelvik
