#include "lib/web/web_entry.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>

#include "lib/base/log.hpp"
#include "lib/base/pipe.hpp"
#include "lib/base/process.hpp"
#include "lib/base/safe_fs.hpp"
#include "lib/base/sysutil.hpp"
#include "lib/names/device_paths.hpp"
#include "lib/names/session_layout.hpp"
#include "lib/parse/device_config.hpp"
#include "lib/parse/web_query.hpp"
#include "lib/session/application_folders.hpp"
#include "lib/session/session_globals.hpp"
#include "lib/web/httputil.hpp"
#include "lib/web/series_tail.hpp"
#include "lib/web/session_metrics.hpp"

namespace trelvik {

namespace {

// Replies the entry program writes itself, in the shape of the actions' text replies.
void print_text_reply(FILE* out, std::string_view status, std::string_view body, std::string_view extra_header = {}) {
  const std::string header = "Status: " + std::string(status) + "\r\n" + std::string(extra_header) +
                             "Pragma: no-cache\r\nCache-Control: no-cache\r\nExpires: -1\r\n"
                             "Content-Type: text/plain; charset=utf-8\r\n\r\n";
  http_print_reply(header, body, out);
}

void print_server_error(FILE* out, std::string_view body) { print_text_reply(out, "500 Internal Server Error", body); }

std::string actions_dir() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink(device::own_executable(), error);
  if (error) {
    LOG_ERROR("Could not find the entry program's own folder: %s", error.message().c_str());
    return {};
  }
  return self.parent_path().string() + "/";
}

std::optional<DeviceFacts> load_device_facts() {
  std::string text;
  const std::string path = device::device_config_file();
  if (!read_text_file(path, text)) {
    LOG_ERROR("Could not read the device configuration '%s'", path.c_str());
    return std::nullopt;
  }
  std::optional<DeviceFacts> facts = parse_device_config(text);
  if (!facts) LOG_ERROR("The device configuration '%s' is incomplete.", path.c_str());
  return facts;
}

// True when the opened password file (or the failure to open it, `fd` < 0)
// is a regular file that nobody but its owner can read: a link could lend it
// any file's contents, and a password that others can read is no longer a
// secret to hand on.
bool is_private_file(int fd) {
  if (fd < 0) return errno != ELOOP;  // a link, refused by O_NOFOLLOW; any other failure is no file at all
  struct stat status {};
  return ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && (status.st_mode & (S_IRGRP | S_IROTH)) == 0;
}

std::optional<std::string> load_api_password() {
  const std::string path = device::api_password_file();
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (!is_private_file(fd)) {
    if (fd >= 0) ::close(fd);
    LOG_ERROR("The device API password file '%s' must be a regular file readable by its owner only.", path.c_str());
    return std::nullopt;
  }
  FILE* stream = fd >= 0 ? ::fdopen(fd, "r") : nullptr;
  if (stream == nullptr && fd >= 0) ::close(fd);
  File file(stream);
  std::string password;
  if (!file.is_open() || !read_secret_line(file.get(), password)) {
    LOG_ERROR("Could not read the device API password from '%s'", path.c_str());
    return std::nullopt;
  }
  return password;
}

// Runs one action and passes its reply through; an action that ends without
// a reply or with a failure status gets a 500 of the entry program's own.
void run_and_reply(FILE* out, const char* name, std::vector<std::string> args, std::string_view input = {}) {
  const std::string dir = actions_dir();
  if (dir.empty()) {
    print_server_error(out, "Error: The action could not be started.");
    return;
  }
  args.insert(args.begin(), dir + name);
  // The action sees none of the request's headers (the operator's
  // credentials among them): only what every program here is given.
  const ProcessResult result = run_process({std::move(args), input, child_environment()});
  const bool answered = WIFEXITED(result.wait_status) && WEXITSTATUS(result.wait_status) == 0;
  if (!answered || result.output.empty()) {
    LOG_ERROR("Action %s gave no reply (wait status %d).", name, result.wait_status);
    print_server_error(out, "Error: The action could not answer.");
    return;
  }
  std::fwrite(result.output.data(), 1, result.output.size(), out);
}

void reply_information(FILE* out) {
  const SessionPtr session = monitoring_session_load();
  if (!monitoring_session_is_active(session.get())) {
    print_text_reply(out, "404 Not Found", "No monitor session is activated.");
    return;
  }
  std::string text;
  const std::string path = session_layout::session_file(*session->session_path, session_layout::kInfoFile);
  // Read without following a link: a linked information file serves nothing.
  if (!safe_fs::read_file(path, text)) {
    LOG_ERROR("Could not read '%s'", path.c_str());
    print_text_reply(out, "404 Not Found", "The session information file could not be read.");
    return;
  }
  http_print_reply(kHttpTextOk, text, out);
}

// The archive "<name>.zip" in one of this device's application folders: the
// internal storage's, then each edge storage's "Trelvik_<serial>" folder,
// opened once. Only a regular file counts, judged on the open descriptor, so
// a swap after the check cannot serve another file; neither a linked archive
// nor a linked application folder is followed.
safe_fs::Fd open_archive(const std::string& name, const std::string& serial_number) {
  std::string localdata = device::localdata_dir();
  localdata.pop_back();  // its final "/"
  std::vector<std::string> folders = edge_application_folders(serial_number);
  folders.insert(folders.begin(), localdata);
  const std::string file_name = name + session_layout::kArchiveSuffix;
  for (const std::string& folder : folders) {
    const safe_fs::Fd dir = safe_fs::open_folder(folder);
    if (!dir.valid()) continue;
    safe_fs::Fd file =
        safe_fs::open_file_at(dir.get(), file_name, session_layout::archive(folder + "/" + name), O_RDONLY);
    if (file.valid()) return file;
  }
  errno = 0;
  return {};
}

void reply_archive(FILE* out, const std::string& name, const std::string& serial_number) {
  const safe_fs::Fd file = open_archive(name, serial_number);
  struct stat status {};
  if (!file.valid() || ::fstat(file.get(), &status) != 0) {
    print_text_reply(out, "404 Not Found", "Error: No archive of that session is stored.");
    return;
  }
  std::fprintf(out,
               "Status: 200 OK\r\nContent-Type: application/zip\r\nContent-Length: %lld\r\n"
               "Content-Disposition: attachment; filename=\"%s%s\"\r\nCache-Control: no-cache\r\n\r\n",
               static_cast<long long>(status.st_size), name.c_str(), session_layout::kArchiveSuffix);
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    std::fwrite(buffer, 1, static_cast<std::size_t>(got), out);
  }
}

std::string argument(WebArgument item, const WebRequest& request, const DeviceFacts& facts) {
  switch (item) {
    case WebArgument::value:
      return request.value;
    case WebArgument::serial_number:
      return facts.serial_number;
    case WebArgument::model_name:
      return facts.model_name;
    case WebArgument::firmware_version:
      return facts.firmware_version;
    case WebArgument::api_user:
      return facts.api_user;
  }
  return {};
}

// The action's program with its row's command line; a program that takes
// the password does not start when the password cannot be read.
void run_program(FILE* out, const WebRequest& request, const DeviceFacts& facts) {
  const WebActionRule& rule = *request.action;
  std::vector<std::string> args;
  for (const WebArgument item : rule.argv) args.push_back(argument(item, request, facts));
  std::string input;
  if (rule.password_on_stdin) {
    const std::optional<std::string> password = load_api_password();
    if (!password) return print_server_error(out, "Error: The device API password could not be read.");
    input = *password + "\n";
  }
  run_and_reply(out, std::string(rule.program).c_str(), std::move(args), input);
}

void dispatch(FILE* out, const WebRequest& request, const DeviceFacts& facts) {
  switch (request.action->reply) {
    case WebReply::program:
      return run_program(out, request, facts);
    case WebReply::information_file:
      return reply_information(out);
    case WebReply::series_tail:
      return reply_series_tail(out);
    case WebReply::session_archive:
      return reply_archive(out, request.value, facts.serial_number);
    case WebReply::session_metrics:
      return reply_session_metrics(out, facts.serial_number);
  }
}

}  // namespace

int web_entry_run(const CgiRequest& cgi, FILE* out) {
  std::string error;
  const std::optional<WebRequest> request = parse_web_query(cgi.query ? cgi.query : "", error);
  if (!request) {
    syslog(LOG_WARNING, "Web request refused: %s", error.c_str());
    http_print_bad_request(error.c_str(), out);
    return 0;
  }
  if (request->action->changes_state) {
    if (std::strcmp(cgi.method ? cgi.method : "", "POST") != 0) {
      print_text_reply(out, "405 Method Not Allowed", "Error: This action is taken by POST only.", "Allow: POST\r\n");
      return 0;
    }
    if (cgi.requested_with == nullptr || cgi.requested_with != kWebRequestedWith) {
      syslog(LOG_WARNING, "Web request refused: a change without the operator page's header.");
      print_text_reply(out, "403 Forbidden", "Error: Changes are only taken from the operator page.");
      return 0;
    }
  }
  const std::optional<DeviceFacts> facts = load_device_facts();
  if (!facts) {
    print_server_error(out, "Error: The device configuration could not be read.");
    return 0;
  }
  dispatch(out, *request, *facts);
  std::fflush(out);
  return 0;
}

}  // namespace trelvik
