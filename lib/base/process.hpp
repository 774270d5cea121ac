// Starting a child program: an argv, the text for its standard input, the
// whole environment it may see and a time limit, and the one loop that waits
// for it. Every child of the library starts here. Nothing a child is given
// is parsed by a shell unless the caller asks for the shell with
// shell_command (a command line that is a pipeline or needs the shell), so
// no value needs quoting, and a secret handed over on standard input stands
// neither in the child's argv nor in its environment.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "lib/base/descriptor.hpp"

namespace trelvik {

struct ProcessSpec {
  std::vector<std::string> argv;         // argv[0] is the program's path
  std::string_view input;                // written to standard input, which is then closed
  std::vector<std::string> environment;  // "NAME=value", the child's whole environment
  int time_limit_seconds = 0;            // 0: none; past it the child is killed
  bool capture_output = true;            // false: standard output stays the caller's
  // >= 0 puts the child's standard output on this descriptor (a file the
  // caller made) instead of capturing it.
  int output_fd = -1;
  // True: the child's standard input stays the caller's (`input` is unused).
  bool keep_input = false;
  // >= 0 puts the child's standard error on this descriptor; it stays the
  // caller's otherwise.
  int error_fd = -1;
};

// The command line `text` run as the C library's command runners ran it:
// `sh -c text`, standard input and output the caller's (capture_output is
// false), with the environment of child_environment().
ProcessSpec shell_command(std::string text);

// The wait status of a shell whose command could not be executed (exit
// status 127), which a program that could not be started stands for where a
// caller kept the shell's judgement.
inline constexpr int kNotExecutedStatus = 127 << 8;

// True when starting a program failed because of the program itself (missing,
// not executable), not for want of resources.
bool is_not_executable(int spawn_error);

// The wait status a shell would have given for a child: kNotExecutedStatus
// for a program that could not be executed, otherwise `wait_status` (-1: no
// child).
int shell_status(int wait_status, int spawn_error);

struct ProcessResult {
  int wait_status = -1;  // -1 when the child could not be started or waited for
  int spawn_error = 0;   // the errno of a start that failed
  bool timed_out = false;
  std::string output;  // standard output, when captured
};

// Runs the child to its end (or its time limit, after which it gets SIGKILL)
// and waits for it. Its standard error stays the caller's. A child that could
// not be started is logged once.
ProcessResult run_process(const ProcessSpec& spec);

// A child whose standard output the caller reads as it comes.
struct RunningProcess {
  pid_t pid = -1;  // -1 when it could not be started (logged)
  int spawn_error = 0;
  Descriptor output;
};

// Starts the child with its output on a pipe for the caller (or, with
// output_fd, on that descriptor, and `output` stays closed); its input is
// written before this returns, so it must fit a pipe (a few kilobytes, as a
// configuration or a password line does). The time limit does not apply:
// the caller gives the program its own, or ends the child itself.
RunningProcess start_process(const ProcessSpec& spec);

// Runs `job` in a process of its own that outlives the caller: the caller
// waits only for the short-lived parent in between and returns at once. The
// job's process belongs to init and a session of its own, its standard
// streams are /dev/null, and it holds none of the caller's descriptors (a
// lock of the caller goes with the caller; a CGI reply ends when its program
// ends); its log connection is opened again as the program opened it. It
// exits with 0 when `job` returns true, 1 otherwise. False when no process
// could be created.
bool start_detached(const std::function<bool()>& job);

// Waits for the child, whatever signals arrive meanwhile: its wait status, or
// -1 when it cannot be had.
int wait_process(pid_t pid);

// The entries of `from` (an environ-style list) whose names are in `names` or
// begin with one of `prefixes`, in their order.
std::vector<std::string> environment_subset(const char* const* from, const std::vector<std::string_view>& names,
                                            const std::vector<std::string_view>& prefixes);

// What a child is given of this process's environment: the tool path, the
// time zone, the system bus, the device root and the emulated camera's hooks
// (its log capture preload and sanitizer options). No request header, no
// proxy setting, no locale, no secret.
std::vector<std::string> child_environment();

}  // namespace trelvik
