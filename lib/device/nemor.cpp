#include "lib/device/nemor.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "lib/base/log.hpp"
#include "lib/base/process.hpp"
#include "lib/base/safe_fs.hpp"
#include "lib/base/shell_quote.hpp"
#include "lib/base/sysutil.hpp"
#include "lib/names/device_paths.hpp"

namespace trelvik {
namespace {

// The API answers on loopback: a connection that takes longer than this is a
// hung server, not a slow one.
constexpr int kConnectSeconds = 10;
// A parameter read is a few hundred bytes that the device answers at once.
constexpr int kGetSeconds = 30;
// The server report is put together by the device from its logs and
// settings while it is asked, which takes up to a minute on a busy camera.
constexpr int kDownloadSeconds = 300;
// The child is killed this long after curl should have given up by itself.
constexpr int kGraceSeconds = 10;
// curl's exit status when it cannot write its output: a report file that
// cannot be made fails as it did when curl made it.
constexpr int kCurlWriteError = 23 << 8;

// TRELVIK_API_MAX_TIME (whole seconds) shortens every limit, for tests that
// wait for a hung API to be given up; it never lengthens one.
int limit(int seconds) {
  const char* knob = std::getenv("TRELVIK_API_MAX_TIME");
  const int shorter = knob != nullptr ? std::atoi(knob) : 0;
  return shorter > 0 && shorter < seconds ? shorter : seconds;
}

std::string url_of(const char* path) { return "http://" + std::string(device::kApiAddress) + path; }

std::string shown_url(const char* path) { return "'" + shell_escape_single(url_of(path)) + "'"; }

std::string shown_credentials(const char* user, const char* pass) {
  return "\"" + shell_escape_double(user) + "\":\"" + shell_escape_double(pass) + "\"";
}

// curl's own options, then the credentials from standard input ("-K -").
std::vector<std::string> curl_argv(int max_seconds) {
  return {device::curl(),
          "-sS",
          "--connect-timeout",
          std::to_string(limit(kConnectSeconds)),
          "--max-time",
          std::to_string(limit(max_seconds)),
          "-K",
          "-"};
}

ProcessSpec curl_spec(std::vector<std::string> argv, const std::string& config, int max_seconds) {
  return {std::move(argv), config, child_environment(), limit(max_seconds) + kGraceSeconds, true};
}

// The download's output file, opened here because curl, running as root,
// would follow a link planted at its name; curl gets it as its standard
// output. A new file is made; a regular file of that name (two reports in one
// second) is written over, as curl did. `made` tells which.
safe_fs::Fd open_output(int folder, const std::string& name, const std::string& dest, bool& made) {
  safe_fs::Fd file = safe_fs::open_file_at(folder, name, dest, O_WRONLY | O_CREAT | O_EXCL, 0666);
  made = file.valid();
  if (made || errno != EEXIST) return file;
  return safe_fs::open_file_at(folder, name, dest, O_WRONLY);
}

// Leaves the output file as curl -o left it: it began the file at the first
// byte that came (or at a success without any), so the file holds exactly
// what came; a download that got nothing and failed leaves the file as it
// was, or none at all.
void settle_output(int folder, const std::string& name, const std::string& dest, int fd, bool done, bool made) {
  const off_t written = ::lseek(fd, 0, SEEK_CUR);
  if (written < 0) return;  // how much came is not known: the file stays
  if (written > 0 || done) {
    if (::ftruncate(fd, written) != 0) LOG_ERROR("Could not truncate '%s'", dest.c_str());
  } else if (made) {
    safe_fs::remove_if_empty_at(folder, name, fd);
  }
}

}  // namespace

std::string nemor_get_command(const char* nemor_user, const char* nemor_pass, const char* path) {
  return shell_word(device::curl()) + " -sS -u " + shown_credentials(nemor_user, nemor_pass) + " " + shown_url(path);
}

std::string nemor_credentials_config(std::string_view nemor_user, std::string_view nemor_pass) {
  std::string quoted;
  for (const char c : std::string(nemor_user) + ":" + std::string(nemor_pass)) {
    switch (c) {
      case '\\':
        quoted += "\\\\";
        break;
      case '"':
        quoted += "\\\"";
        break;
      case '\t':
        quoted += "\\t";
        break;
      case '\n':
        quoted += "\\n";
        break;
      case '\r':
        quoted += "\\r";
        break;
      case '\v':
        quoted += "\\v";
        break;
      default:
        quoted += c;
    }
  }
  return "user = \"" + quoted + "\"\n";
}

ReadPipe nemor_get(const char* nemor_user, const char* nemor_pass, const char* path) {
  std::vector<std::string> argv = curl_argv(kGetSeconds);
  argv.push_back(url_of(path));
  const std::string config = nemor_credentials_config(nemor_user, nemor_pass);
  RunningProcess curl = start_process(curl_spec(std::move(argv), config, kGetSeconds));
  // A curl that cannot be executed answers nothing, as under the shell.
  if (curl.pid <= 0 && is_not_executable(curl.spawn_error)) return ReadPipe(::fopen("/dev/null", "re"), 0);
  FILE* stream = curl.pid > 0 ? ::fdopen(curl.output.get(), "r") : nullptr;
  if (stream == nullptr) {
    const std::string command = nemor_get_command(nemor_user, nemor_pass, path);
    LOG_ERROR("Could not execute command: %s", sysutil_redact(command).c_str());
    if (curl.pid > 0) {
      curl.output.close();
      wait_process(curl.pid);
    }
    return {};
  }
  curl.output.release();
  return ReadPipe(stream, curl.pid);
}

bool nemor_download(const char* nemor_user, const char* nemor_pass, const char* path, const char* dest) {
  // The command line a shell would have run with curl writing the file by
  // name, masked where a failure is logged.
  const std::string shown = shell_word(device::curl()) + " -sS -u " + shown_credentials(nemor_user, nemor_pass) +
                            " -o \"" + shell_escape_double(dest) + "\" " + shown_url(path);
  const auto [folder_path, name] = safe_fs::split(dest);
  const safe_fs::Fd folder = safe_fs::open_folder(folder_path);
  bool made = false;
  const safe_fs::Fd file = folder.valid() ? open_output(folder.get(), name, dest, made) : safe_fs::Fd();
  if (!file.valid()) return sysutil_judge_exit(kCurlWriteError, shown.c_str());
  std::vector<std::string> argv = curl_argv(kDownloadSeconds);
  argv.push_back(url_of(path));
  const std::string config = nemor_credentials_config(nemor_user, nemor_pass);
  ProcessSpec spec = curl_spec(std::move(argv), config, kDownloadSeconds);
  spec.output_fd = file.get();
  const ProcessResult result = run_process(spec);
  // A curl that cannot be executed is judged as the shell's exit status 127.
  const bool not_executed = result.wait_status == -1 && is_not_executable(result.spawn_error);
  const bool done = sysutil_judge_exit(not_executed ? kNotExecutedStatus : result.wait_status, shown.c_str());
  settle_output(folder.get(), name, dest, file.get(), done, made);
  return done;
}

}  // namespace trelvik
