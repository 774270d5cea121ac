#include "lib/base/sysutil.hpp"

#include <sys/wait.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "lib/base/log.hpp"
#include "lib/base/process.hpp"
#include "lib/base/shell_quote.hpp"

namespace trelvik {
namespace {

std::vector<std::string>& secrets() {
  static std::vector<std::string> list;
  return list;
}

void replace_all(std::string& text, std::string_view what, std::string_view with) {
  std::size_t at = 0;
  while ((at = text.find(what, at)) != std::string::npos) {
    text.replace(at, what.size(), with);
    at += with.size();
  }
}

// Where the password of the credentials word starting at `at` begins and
// ends: after the word's first colon outside quotes, up to the first blank
// outside quotes. Nothing when the word holds no such colon.
std::optional<std::pair<std::size_t, std::size_t>> password_span(const std::string& text, std::size_t at) {
  char quote = '\0';
  std::size_t colon = std::string::npos;
  std::size_t i = at;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (quote == '\'') {
      if (c == '\'') quote = '\0';
    } else if (c == '\\') {
      ++i;  // the escaped character is never a quote, colon or blank of the word
    } else if (quote == '"') {
      if (c == '"') quote = '\0';
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == ' ') {
      break;
    } else if (c == ':' && colon == std::string::npos) {
      colon = i;
    }
  }
  if (colon == std::string::npos) return std::nullopt;
  return std::make_pair(colon + 1, std::min(i, text.size()));
}

}  // namespace

void sysutil_hide_secret(std::string_view secret) {
  if (secret.empty()) return;
  auto& list = secrets();
  for (std::string form :
       {std::string(secret), shell_escape_double(secret), shell_escape_single(secret), shell_word(secret)}) {
    if (std::find(list.begin(), list.end(), form) == list.end()) list.push_back(std::move(form));
  }
  // Longest first, so that a quoted form is hidden whole before the plain one.
  std::sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
}

std::string sysutil_redact(std::string_view text) {
  // Only the password inside the "-u user:password" credentials is hidden:
  // the user, paths and dates around it may hold the same characters and
  // stay as they are.
  std::string shown(text);
  constexpr std::string_view kOption = "-u ";
  for (std::size_t at = shown.find(kOption); at != std::string::npos; at = shown.find(kOption, at)) {
    at += kOption.size();
    if (at > kOption.size() && shown[at - kOption.size() - 1] != ' ') continue;
    const auto span = password_span(shown, at);
    if (!span) continue;
    std::string password = shown.substr(span->first, span->second - span->first);
    for (const auto& secret : secrets()) replace_all(password, secret, "***");
    shown.replace(span->first, span->second - span->first, password);
    at = span->first + password.size();
  }
  return shown;
}

bool read_secret_line(FILE* in, std::string& secret) {
  // The limit bounds an outside input: 255 bytes and the terminator.
  char line[256] = {};
  if (std::fgets(line, sizeof line, in) == nullptr) return false;
  secret.assign(line, std::strcspn(line, "\n"));
  sysutil_hide_secret(secret);
  return true;
}

bool qorm_system(const char* cmd) {
  const ProcessResult result = run_process(shell_command(cmd));
  return sysutil_judge_exit(shell_status(result.wait_status, result.spawn_error), cmd);
}

bool sysutil_judge_exit(int status, const char* cmd) {
  if (status == -1) {
    LOG_ERROR("Could not create child process: %s", sysutil_redact(cmd).c_str());
    return false;
  }
  if (WIFSIGNALED(status) || (status & 0x7f) != 0) {
    LOG_ERROR("Unsuccessful command: %s", sysutil_redact(cmd).c_str());
    return false;
  }
  const int exit_status = WEXITSTATUS(status);
  if (exit_status == 0) return true;
  syslog(LOG_WARNING, "Exit status '%d' for command: %s", exit_status, sysutil_redact(cmd).c_str());
  return false;
}

bool qorm_systemf(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  char* command = nullptr;
  const int length = vasprintf(&command, fmt, args);
  va_end(args);
  if (length < 0 || command == nullptr) {
    LOG_ERROR("Could not allocate memory for command: %s", fmt);
    return false;
  }
  const bool ok = qorm_system(command);
  std::free(command);
  return ok;
}

}  // namespace trelvik
