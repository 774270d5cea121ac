#include "lib/base/process.hpp"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <thread>
#include <utility>

#include "lib/base/log.hpp"
#include "lib/names/device_paths.hpp"

namespace trelvik {

namespace {

using Clock = std::chrono::steady_clock;

// A pipe whose both ends close on the exec of a child: the child gets its
// ends through dup2 only, so no other child inherits them and keeps a pipe
// from ending.
bool make_pipe(Descriptor& read_end, Descriptor& write_end) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  read_end = Descriptor(fds[0]);
  write_end = Descriptor(fds[1]);
  return true;
}

// The child's id, or -1 with `error` set (logged). A descriptor below 0
// leaves that standard stream the caller's.
pid_t spawn(const ProcessSpec& spec, int stdin_fd, int stdout_fd, int& error) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stdin_fd >= 0) posix_spawn_file_actions_adddup2(&actions, stdin_fd, STDIN_FILENO);
  if (stdout_fd >= 0) posix_spawn_file_actions_adddup2(&actions, stdout_fd, STDOUT_FILENO);
  if (spec.error_fd >= 0) posix_spawn_file_actions_adddup2(&actions, spec.error_fd, STDERR_FILENO);
  // A program that ignores SIGPIPE for its own writes (the web entry) gives
  // its child the default back.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  std::vector<char*> argv;
  for (const std::string& arg : spec.argv) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& entry : spec.environment) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);
  pid_t pid = -1;
  error = spec.argv.empty() ? EINVAL : posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    errno = error;
    LOG_ERROR("Could not start '%s'", spec.argv.empty() ? "" : spec.argv[0].c_str());
    return -1;
  }
  return pid;
}

// Writes as much of `data` as the pipe takes without blocking (poll said it
// takes PIPE_BUF bytes). A child that closed its input early would raise
// SIGPIPE in a program that keeps the default: it is held and taken back, so
// that only the write fails. False when the pipe is closed or broken.
bool write_some(int fd, std::string_view& data) {
  sigset_t pipe_signal, previous;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  sigset_t pending;
  sigpending(&pending);
  const bool was_pending = sigismember(&pending, SIGPIPE) == 1;
  pthread_sigmask(SIG_BLOCK, &pipe_signal, &previous);
  const ssize_t written = ::write(fd, data.data(), std::min<std::size_t>(data.size(), PIPE_BUF));
  const int saved = errno;
  if (written < 0 && saved == EPIPE && !was_pending) {
    const timespec none{};
    while (sigtimedwait(&pipe_signal, nullptr, &none) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  errno = saved;
  if (written < 0) return errno == EINTR || errno == EAGAIN;
  data.remove_prefix(static_cast<std::size_t>(written));
  return true;
}

// False at the end of the output or on a read error.
bool read_some(int fd, std::string& text) {
  char buffer[4096];
  const ssize_t got = ::read(fd, buffer, sizeof buffer);
  if (got < 0) return errno == EINTR || errno == EAGAIN;
  if (got == 0) return false;
  text.append(buffer, static_cast<std::size_t>(got));
  return true;
}

// Milliseconds left until `deadline`, for poll; -1 (no limit) without one.
int remaining_ms(const std::optional<Clock::time_point>& deadline) {
  if (!deadline) return -1;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

// Feeds the input and collects the output until both pipes end; false when
// the deadline passed first.
bool exchange(Descriptor& input, Descriptor& output, std::string_view pending, std::string& text,
              const std::optional<Clock::time_point>& deadline) {
  if (pending.empty()) input.close();
  while (input.get() >= 0 || output.get() >= 0) {
    pollfd fds[2];
    nfds_t count = 0;
    if (input.get() >= 0) fds[count++] = {input.get(), POLLOUT, 0};
    if (output.get() >= 0) fds[count++] = {output.get(), POLLIN, 0};
    const int timeout = remaining_ms(deadline);
    if (timeout == 0) return false;
    const int ready = ::poll(fds, count, timeout);
    if (ready < 0 && errno != EINTR) return true;  // nothing to wait on any more: the wait decides
    if (ready <= 0) continue;
    for (nfds_t i = 0; i < count; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == input.get()) {
        if (!write_some(input.get(), pending) || pending.empty()) input.close();
      } else if (!read_some(output.get(), text)) {
        output.close();
      }
    }
  }
  return true;
}

// The one wait for a child, whatever signals arrive meanwhile. Without a
// deadline it blocks; with one it looks every 20 ms and gives up (false)
// once the deadline has passed. `wait_status` is -1 when the child cannot be
// waited for.
bool reap(pid_t pid, const std::optional<Clock::time_point>& deadline, int& wait_status) {
  for (;;) {
    const pid_t got = ::waitpid(pid, &wait_status, deadline ? WNOHANG : 0);
    if (got == pid) return true;
    if (got < 0 && errno != EINTR) {
      wait_status = -1;
      return true;
    }
    if (got == 0) {
      if (Clock::now() >= *deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
}

}  // namespace

bool is_not_executable(int spawn_error) {
  switch (spawn_error) {
    case ENOENT:
    case EACCES:
    case ENOEXEC:
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG:
    case EPERM:
      return true;
    default:
      return false;
  }
}

int shell_status(int wait_status, int spawn_error) {
  return wait_status == -1 && is_not_executable(spawn_error) ? kNotExecutedStatus : wait_status;
}

ProcessSpec shell_command(std::string text) {
  ProcessSpec spec{{device::shell(), "-c", std::move(text)}, {}, child_environment()};
  spec.capture_output = false;
  spec.keep_input = true;
  return spec;
}

int wait_process(pid_t pid) {
  int status = -1;
  reap(pid, std::nullopt, status);
  return status;
}

ProcessResult run_process(const ProcessSpec& spec) {
  ProcessResult result;
  const char* program = spec.argv.empty() ? "" : spec.argv[0].c_str();
  Descriptor in_read, in_write, out_read, out_write;
  const bool capture = spec.capture_output && spec.output_fd < 0;
  if ((!spec.keep_input && !make_pipe(in_read, in_write)) || (capture && !make_pipe(out_read, out_write))) {
    LOG_ERROR("Could not create the pipes for '%s'", program);
    return result;
  }
  const int stdout_fd = spec.output_fd >= 0 ? spec.output_fd : out_write.get();
  const pid_t pid = spawn(spec, in_read.get(), stdout_fd, result.spawn_error);
  // The child holds its own copies; ours would keep the pipes from ending.
  in_read.close();
  out_write.close();
  if (pid <= 0) return result;
  std::optional<Clock::time_point> deadline;
  if (spec.time_limit_seconds > 0) deadline = Clock::now() + std::chrono::seconds(spec.time_limit_seconds);
  const bool in_time = exchange(in_write, out_read, spec.input, result.output, deadline);
  // Whatever is left of the pipes (a deadline passed) ends, so that no child waits on them.
  in_write.close();
  out_read.close();
  if (in_time && reap(pid, deadline, result.wait_status)) return result;
  result.timed_out = true;
  LOG_ERROR("'%s' did not end within %d seconds: killed", program, spec.time_limit_seconds);
  ::kill(pid, SIGKILL);
  result.wait_status = wait_process(pid);
  return result;
}

RunningProcess start_process(const ProcessSpec& spec) {
  RunningProcess running;
  Descriptor in_read, in_write, out_read, out_write;
  const bool capture = spec.capture_output && spec.output_fd < 0;
  if ((!spec.keep_input && !make_pipe(in_read, in_write)) || (capture && !make_pipe(out_read, out_write))) {
    LOG_ERROR("Could not create the pipes for '%s'", spec.argv.empty() ? "" : spec.argv[0].c_str());
    return running;
  }
  const int stdout_fd = spec.output_fd >= 0 ? spec.output_fd : out_write.get();
  running.pid = spawn(spec, in_read.get(), stdout_fd, running.spawn_error);
  in_read.close();
  out_write.close();
  if (running.pid <= 0) return running;
  std::string_view pending = spec.keep_input ? std::string_view() : spec.input;
  while (!pending.empty() && write_some(in_write.get(), pending)) {
  }
  in_write.close();
  running.output = std::move(out_read);
  return running;
}

bool start_detached(const std::function<bool()>& job) {
  const pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    // The job's process belongs to init at once: nobody waits for it.
    if (::fork() != 0) ::_exit(0);
    ::setsid();
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
      for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) ::dup2(null, fd);
      if (null > STDERR_FILENO) ::close(null);
    }
    ::closelog();
    ::close_range(STDERR_FILENO + 1, ~0U, 0);
    open_program_log();
    ::_exit(job() ? 0 : 1);
  }
  wait_process(child);
  errno = 0;
  return true;
}

std::vector<std::string> environment_subset(const char* const* from, const std::vector<std::string_view>& names,
                                            const std::vector<std::string_view>& prefixes) {
  std::vector<std::string> kept;
  for (; from != nullptr && *from != nullptr; ++from) {
    const std::string_view entry(*from);
    const std::size_t equals = entry.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view name = entry.substr(0, equals);
    const bool named = std::find(names.begin(), names.end(), name) != names.end();
    const bool prefixed = std::any_of(prefixes.begin(), prefixes.end(),
                                      [&](std::string_view prefix) { return name.starts_with(prefix); });
    if (named || prefixed) kept.emplace_back(entry);
  }
  return kept;
}

std::vector<std::string> child_environment() {
  return environment_subset(environ, {"PATH", "TZ", "LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"},
                            {"TRELVIK_", "DBUS_"});
}

}  // namespace trelvik
