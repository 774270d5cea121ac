#include "lib/nemor.hpp"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "lib/device_paths.hpp"
#include "lib/log.hpp"
#include "lib/process.hpp"
#include "lib/shell_quote.hpp"
#include "lib/sysutil.hpp"

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
  return {device::curl(), "-sS", "--connect-timeout", std::to_string(limit(kConnectSeconds)), "--max-time",
          std::to_string(limit(max_seconds)), "-K", "-"};
}

ProcessSpec curl_spec(std::vector<std::string> argv, const std::string& config, int max_seconds) {
  return {std::move(argv), config, child_environment(), limit(max_seconds) + kGraceSeconds, true};
}

}  // namespace

std::string nemor_get_command(const char* nemor_user, const char* nemor_pass, const char* path) {
  return shell_word(device::curl()) + " -sS -u " + shown_credentials(nemor_user, nemor_pass) + " " +
         shown_url(path);
}

std::string nemor_credentials_config(std::string_view nemor_user, std::string_view nemor_pass) {
  std::string quoted;
  for (const char c : std::string(nemor_user) + ":" + std::string(nemor_pass)) {
    switch (c) {
      case '\\': quoted += "\\\\"; break;
      case '"': quoted += "\\\""; break;
      case '\t': quoted += "\\t"; break;
      case '\n': quoted += "\\n"; break;
      case '\r': quoted += "\\r"; break;
      case '\v': quoted += "\\v"; break;
      default: quoted += c;
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
  std::vector<std::string> argv = curl_argv(kDownloadSeconds);
  for (std::string arg : {std::string("-o"), std::string(dest), url_of(path)}) argv.push_back(std::move(arg));
  const std::string config = nemor_credentials_config(nemor_user, nemor_pass);
  const ProcessResult result = run_process(curl_spec(std::move(argv), config, kDownloadSeconds));
  const std::string shown = shell_word(device::curl()) + " -sS -u " + shown_credentials(nemor_user, nemor_pass) +
                            " -o \"" + shell_escape_double(dest) + "\" " + shown_url(path);
  // A curl that cannot be executed is judged as the shell's exit status 127.
  const bool not_executed = result.wait_status == -1 && is_not_executable(result.spawn_error);
  return sysutil_judge_exit(not_executed ? kNotExecutedStatus : result.wait_status, shown.c_str());
}

}  // namespace trelvik
