#include "lib/web_entry.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <utility>

#include "lib/device_paths.hpp"
#include "lib/httputil.hpp"
#include "lib/log.hpp"
#include "lib/parse/device_config.hpp"
#include "lib/parse/web_query.hpp"
#include "lib/pipe.hpp"
#include "lib/session_globals.hpp"
#include "lib/session_layout.hpp"
#include "lib/session_metrics.hpp"
#include "lib/sysutil.hpp"

extern char** environ;

namespace trelvik {

namespace {

// Replies the entry program writes itself, in the shape of the actions' text replies.
void print_text_reply(FILE* out, std::string_view status, std::string_view body,
                      std::string_view extra_header = {}) {
  const std::string header = "Status: " + std::string(status) + "\r\n" + std::string(extra_header) +
                             "Pragma: no-cache\r\nCache-Control: no-cache\r\nExpires: -1\r\n"
                             "Content-Type: text/plain; charset=utf-8\r\n\r\n";
  http_print_reply(header, body, out);
}

void print_server_error(FILE* out, std::string_view body) { print_text_reply(out, "500 Internal Server Error", body); }

// One end of a pipe, closed at the latest when it goes out of scope.
class Descriptor {
 public:
  Descriptor() noexcept = default;
  explicit Descriptor(int fd) noexcept : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      close();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  ~Descriptor() { close(); }

  int get() const noexcept { return fd_; }
  bool close() noexcept { return fd_ < 0 || ::close(std::exchange(fd_, -1)) == 0; }

 private:
  int fd_ = -1;
};

// A pipe whose both ends close on the exec of a child.
bool make_pipe(Descriptor& read_end, Descriptor& write_end) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  read_end = Descriptor(fds[0]);
  write_end = Descriptor(fds[1]);
  return true;
}

bool write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

std::string read_all(int fd) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return text;
    text.append(buffer, static_cast<std::size_t>(got));
  }
}

pid_t spawn_with_pipes(const std::string& program, const std::vector<std::string>& args, int stdin_fd,
                       int stdout_fd) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, stdin_fd, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, stdout_fd, STDOUT_FILENO);
  // The entry program ignores SIGPIPE for its own writes; the action gets the
  // default back.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int error = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    errno = error;
    LOG_ERROR("Could not start '%s'", program.c_str());
    return -1;
  }
  return pid;
}

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

std::optional<std::string> load_api_password() {
  const std::string path = device::api_password_file();
  File file(path.c_str(), "r");
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
  const std::string program = dir + name;
  args.insert(args.begin(), program);
  const ActionResult result = run_action(program, args, input);
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
  if (!read_text_file(path, text)) {
    LOG_ERROR("Could not read '%s'", path.c_str());
    print_text_reply(out, "404 Not Found", "The session information file could not be read.");
    return;
  }
  http_print_reply(kHttpTextOk, text, out);
}

// The archive "<name>.zip" in one of this device's application folders: the
// internal storage's, then each edge storage's "Trelvik_<serial>" folder. Only
// a regular file counts; a link is never followed out of the folder.
std::optional<std::string> find_archive(const std::string& name, const std::string& serial_number) {
  std::vector<std::string> folders{device::localdata_dir()};
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(device::storage_root(), error)) {
    folders.push_back(entry.path().string() + "/Trelvik_" + serial_number + "/");
  }
  for (const std::string& folder : folders) {
    const std::string path = session_layout::archive(folder + name);
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) return path;
  }
  return std::nullopt;
}

void reply_archive(FILE* out, const std::string& name, const std::string& serial_number) {
  const std::optional<std::string> path = find_archive(name, serial_number);
  File file(path ? path->c_str() : "", "rb");
  struct stat status {};
  if (!path || !file.is_open() || ::fstat(::fileno(file.get()), &status) != 0) {
    print_text_reply(out, "404 Not Found", "Error: No archive of that session is stored.");
    return;
  }
  std::fprintf(out,
               "Status: 200 OK\r\nContent-Type: application/zip\r\nContent-Length: %lld\r\n"
               "Content-Disposition: attachment; filename=\"%s%s\"\r\nCache-Control: no-cache\r\n\r\n",
               static_cast<long long>(status.st_size), name.c_str(), session_layout::kArchiveSuffix);
  char buffer[65536];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) std::fwrite(buffer, 1, got, out);
}

void dispatch(FILE* out, const WebRequest& request, const DeviceFacts& facts) {
  switch (request.action) {
    case WebAction::status:
      return run_and_reply(out, "status_report", {facts.serial_number});
    case WebAction::storages:
      return run_and_reply(out, "storage_list", {facts.serial_number});
    case WebAction::information:
      return reply_information(out);
    case WebAction::download:
      return reply_archive(out, request.value, facts.serial_number);
    case WebAction::metrics:
      return reply_session_metrics(out, facts.serial_number);
    case WebAction::ptz_interval:
      return run_and_reply(out, "ptz_autotest_interval", {request.value});
    case WebAction::ptz_times:
      return run_and_reply(out, "ptz_autotest_times", {request.value});
    case WebAction::ptz_stop:
      return run_and_reply(out, "ptz_autotest_stop", {});
    case WebAction::begin:
    case WebAction::end:
      break;
  }
  const std::optional<std::string> password = load_api_password();
  if (!password) return print_server_error(out, "Error: The device API password could not be read.");
  const std::string input = *password + "\n";
  if (request.action == WebAction::begin) {
    return run_and_reply(out, "begin_monitor_session",
                         {request.value, facts.serial_number, facts.model_name, facts.firmware_version,
                          facts.api_user},
                         input);
  }
  run_and_reply(out, "end_monitor_session", {facts.api_user}, input);
}

}  // namespace

ActionResult run_action(const std::string& program, const std::vector<std::string>& args, std::string_view input) {
  ActionResult result;
  Descriptor in_read, in_write, out_read, out_write;
  if (!make_pipe(in_read, in_write) || !make_pipe(out_read, out_write)) {
    LOG_ERROR("Could not create the pipes for '%s'", program.c_str());
    return result;
  }
  const pid_t pid = spawn_with_pipes(program, args, in_read.get(), out_write.get());
  // The child holds its own copies; ours would keep the pipes from ending.
  in_read.close();
  out_write.close();
  if (pid <= 0) return result;
  // The password is one short line, far below a pipe's capacity.
  write_all(in_write.get(), input);
  in_write.close();
  result.output = read_all(out_read.get());
  while (::waitpid(pid, &result.wait_status, 0) < 0 && errno == EINTR) {
  }
  return result;
}

int web_entry_run(const CgiRequest& cgi, FILE* out) {
  std::string error;
  const std::optional<WebRequest> request = parse_web_query(cgi.query ? cgi.query : "", error);
  if (!request) {
    syslog(LOG_WARNING, "Web request refused: %s", error.c_str());
    http_print_bad_request(error.c_str(), out);
    return 0;
  }
  if (web_action_changes_state(request->action)) {
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
