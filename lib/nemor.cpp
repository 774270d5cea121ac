#include "lib/nemor.hpp"

#include "lib/device_paths.hpp"
#include "lib/log.hpp"
#include "lib/shell_quote.hpp"
#include "lib/sysutil.hpp"

namespace trelvik {
namespace {

std::string url_of(const char* path) {
  return "'http://" + shell_escape_single(std::string(device::kApiAddress) + path) + "'";
}

std::string credentials(const char* user, const char* pass) {
  return "\"" + shell_escape_double(user) + "\":\"" + shell_escape_double(pass) + "\"";
}

}  // namespace

std::string nemor_get_command(const char* nemor_user, const char* nemor_pass, const char* path) {
  return shell_word(device::curl()) + " -sS -u " + credentials(nemor_user, nemor_pass) + " " + url_of(path);
}

ReadPipe nemor_get(const char* nemor_user, const char* nemor_pass, const char* path) {
  const std::string command = nemor_get_command(nemor_user, nemor_pass, path);
  ReadPipe pipe(command);
  if (!pipe.is_open()) LOG_ERROR("Could not execute command: %s", sysutil_redact(command).c_str());
  return pipe;
}

bool nemor_download(const char* nemor_user, const char* nemor_pass, const char* path, const char* dest) {
  return qorm_systemf("%s -sS -u %s -o \"%s\" %s", shell_word(device::curl()).c_str(),
                      credentials(nemor_user, nemor_pass).c_str(), shell_escape_double(dest).c_str(),
                      url_of(path).c_str());
}

}  // namespace trelvik
