#include "lib/sysutil.hpp"

#include <sys/wait.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "lib/log.hpp"
#include "lib/shell_quote.hpp"

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

}  // namespace

void sysutil_hide_secret(std::string_view secret) {
  if (secret.empty()) return;
  auto& list = secrets();
  for (std::string form : {std::string(secret), shell_escape_double(secret), shell_escape_single(secret),
                           shell_word(secret)}) {
    if (std::find(list.begin(), list.end(), form) == list.end()) list.push_back(std::move(form));
  }
  // Longest first, so that a quoted form is hidden whole before the plain one.
  std::sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
}

std::string sysutil_redact(std::string_view text) {
  std::string shown(text);
  for (const auto& secret : secrets()) replace_all(shown, secret, "***");
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
  const int status = std::system(cmd);
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
