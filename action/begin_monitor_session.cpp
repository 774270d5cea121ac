// begin_monitor_session <storage> <serial_number> <short_name> <version> <nemor_user>
// The device API password arrives as one line on standard input. Starts a
// monitoring session on the internal storage ("localdata") or an edge storage
// and answers one CGI reply.
#include <sys/stat.h>
#include <syslog.h>

#include <cerrno>

#include <cstdio>
#include <cstring>
#include <string>

#include "lib/base/atomic_file.hpp"
#include "lib/base/dateutil.hpp"
#include "lib/base/fileutil.hpp"
#include "lib/base/log.hpp"
#include "lib/base/safe_fs.hpp"
#include "lib/base/shell_quote.hpp"
#include "lib/base/sysutil.hpp"
#include "lib/collect/filehandler.hpp"
#include "lib/collect/interrupts.hpp"
#include "lib/collect/onvif.hpp"
#include "lib/device/storage_investigator.hpp"
#include "lib/names/device_paths.hpp"
#include "lib/names/session_layout.hpp"
#include "lib/session/session_globals.hpp"
#include "lib/session/time_zone.hpp"
#include "lib/web/httputil.hpp"

namespace {

using namespace trelvik;

constexpr const char* kInternal = "localdata";
constexpr const char* kNotValid =
    "Error: The given storage destination was not valid and the ZEDA failed to create a new monitor session.";
constexpr const char* kCouldNotStart = "Error: Could not start monitoring session.";

struct Request {
  const char* storage;
  const char* serial_number;
  const char* short_name;
  const char* version;
  const char* nemor_user;
  std::string nemor_pass;
};

bool edge_storage_is_valid(const char* storage) {
  syslog(LOG_DEBUG, "Not internal: Get storages.");
  StorageList storages = get_storages();
  syslog(LOG_DEBUG, "Not internal: Find storage.");
  if (storage_find(storages, storage) == nullptr) return false;
  syslog(LOG_DEBUG, "Not internal: Find status of storage.");
  if (!determine_if_this_storage_is_ok(storage)) return false;
  syslog(LOG_DEBUG, "Not internal: Storage ok.");
  return true;
}

// The serial number becomes a folder name on the edge storage.
bool serial_number_is_a_folder_name(const char* serial) { return std::strpbrk(serial, "/\n\r") == nullptr; }

// The session's names, in device paths limited to 255 characters as the
// device's web interface has always accepted them; the device root (an
// emulated camera) is put in front afterwards.
SessionPtr new_session_record(const Request& request) {
  SessionPtr session = monitoring_session_new();
  char start_time[256] = {};
  date_format_now(start_time, sizeof start_time, "%a %b %e %H:%M:%S %Z %Y");
  char folder[256] = {};
  date_format_now(folder, sizeof folder, "%Y%m%d_%H_%M_%S");
  session->monitor_start_time = start_time;
  session->current_activity_folder = folder;
  syslog(LOG_DEBUG, "New activity folder created for new session: %s", folder);
  char storage_path[256] = {};
  if (std::strcmp(request.storage, kInternal) == 0) {
    BOUNDED_FORMAT(storage_path, sizeof storage_path, "%s", device::kLocaldataDir);
  } else {
    session->storage_id = request.storage;
    const std::string application =
        session_layout::application_folder(std::string(device::kStorageRoot) + request.storage, request.serial_number);
    BOUNDED_FORMAT(storage_path, sizeof storage_path, "%s/", application.c_str());
  }
  char session_path[256] = {};
  BOUNDED_FORMAT(session_path, sizeof session_path, "%s%s", storage_path, folder);
  session->secondary_storage_path = device::path(storage_path);
  session->session_path = device::path(session_path);
  return session;
}

bool write_information_file(const Request& request, const monitoring_session& session) {
  const std::string path = session_layout::session_file(*session.session_path, session_layout::kInfoFile);
  const std::string text = std::string("Model Name: ") + request.short_name +
                           "\r\nSerial Number: " + request.serial_number + "\r\nFirmware version: " + request.version +
                           "\r\nEdge storage location: " + session.storage_id.value_or("Internal Storage") +
                           "\r\nStart Time of the session: " + *session.monitor_start_time +
                           "\r\nStop Time of the session: Still active\r\nCollected Data Points: 0\r\n";
  // The name of deactivation's rewrite: nothing else writes the file yet.
  const std::string temporary = session_layout::session_file(*session.session_path, session_layout::kInfoRewriteTemp);
  if (!atomic_replace(path, temporary, text)) {
    LOG_ERROR("Could not open file '%s'", path.c_str());
    return false;
  }
  return true;
}

std::string parent_of(const std::string& path) {
  const std::string folder = path.back() == '/' ? path.substr(0, path.size() - 1) : path;
  return folder.substr(0, folder.rfind('/'));
}

// The folder tree that the package script made, down from the storage's
// mount point, and the signature reach the card: the state file may only
// name a session that a power cut cannot take away.
bool sync_session_tree(const monitoring_session& session) {
  const std::string& folder = *session.session_path;
  bool ok = true;
  for (const std::string& path : {session_layout::session_file(folder, session_layout::kSignature),
                                  session_layout::session_file(folder, session_layout::kSampling), folder,
                                  *session.secondary_storage_path, parent_of(*session.secondary_storage_path)}) {
    ok = sync_path(path) && ok;
  }
  if (!ok) LOG_ERROR("Could not write file '%s'", folder.c_str());
  return ok;
}

void take_start_snapshots(const Request& request, const monitoring_session& session) {
  const char* path = session.session_path->c_str();
  syslog(LOG_DEBUG, "Create interrupts snapshot.");
  create_interrupts_snapshot(path);
  syslog(LOG_DEBUG, "Create serverreport snapshot.");
  create_serverreport_snapshot(session, request.nemor_user, request.nemor_pass.c_str());
  syslog(LOG_DEBUG, "Copy onvif media conf.");
  onvif_copy_media_conf(path);
  if (session.storage_id) {
    syslog(LOG_INFO, "Monitoring session started (%s)", session.storage_id->c_str());
  } else {
    syslog(LOG_INFO, "Monitoring session started (%s)", "Internal Storage");
  }
}

// A session starts only in a folder that it makes itself, inside an
// application folder that is a real folder: what was put on the storage
// beforehand (a folder holding links) is never written into.
bool session_folder_is_new(const monitoring_session& session) {
  const std::string& folder = *session.session_path;
  struct stat status {};
  if (::lstat(folder.c_str(), &status) == 0) {
    LOG_ERROR("Could not start monitoring session: The session folder '%s' exists already.", folder.c_str());
    return false;
  }
  // Without its final "/", which would make lstat follow a link.
  std::string application = *session.secondary_storage_path;
  while (application.size() > 1 && application.back() == '/') application.pop_back();
  if (::lstat(application.c_str(), &status) == 0 && !safe_fs::open_folder(application).valid()) {
    LOG_ERROR("Could not start monitoring session: '%s' is not a folder.", application.c_str());
    return false;
  }
  errno = 0;
  return true;
}

// Steps from the running-session check to the saved state file, under the
// lock of the package's data folder: two requests at the same moment (a
// double click) must not both pass the check. The reply text on refusal, or
// null with the new session.
const char* create_session(const Request& request, SessionPtr& session) {
  const FileLock lock(device::localdata_dir());
  syslog(LOG_DEBUG, "Loading monitoring session.");
  // A state file that cannot be read may hold the running session: no new
  // one starts, but the refusal is not "another is running" (the load has
  // logged the file's name).
  const SessionLoad running = monitoring_session_load_checked();
  if (running.unreadable) return kCouldNotStart;
  if (running.session) {
    LOG_ERROR("Can not start new monitoring session while another one is running.");
    return "Can not start new activity while another is running.";
  }
  const bool internal = std::strcmp(request.storage, kInternal) == 0;
  if (!internal && !edge_storage_is_valid(request.storage)) {
    LOG_ERROR("The given storage for monitor session was not valid.");
    return kNotValid;
  }
  if (!internal && !serial_number_is_a_folder_name(request.serial_number)) {
    LOG_ERROR("Could not start monitoring session: Serial number is not a valid folder name.");
    return kCouldNotStart;
  }
  syslog(LOG_DEBUG, "Start activating monitoring session.");
  session = new_session_record(request);
  if (!check_partition_usage(session->secondary_storage_path->c_str())) {
    LOG_ERROR("Could not start monitoring session: Secondary storage is soon out of disk space.");
    return kCouldNotStart;
  }
  if (!session_folder_is_new(*session)) return kCouldNotStart;
  if (!qorm_systemf("%s \"%s\"", shell_word(device::shell_script("monitory_creator.sh")).c_str(),
                    shell_escape_double(*session->session_path).c_str())) {
    LOG_ERROR("Could not start monitoring session: Could not create the session folder '%s'.",
              session->session_path->c_str());
    return kCouldNotStart;
  }
  // The session becomes active with its state file, so its folder and its
  // information file are on the card first.
  if (!write_information_file(request, *session)) return kCouldNotStart;
  // Without it the session still runs; its times are read as UTC later.
  record_session_time_zone(*session->session_path);
  if (!sync_session_tree(*session)) return kCouldNotStart;
  syslog(LOG_DEBUG, "Save monitoring session information to file.");
  // A state file that could not be written is not a started session.
  return monitoring_session_save(session.get()) ? nullptr : kCouldNotStart;
}

int begin_monitor_session(int argc, char** argv) {
  open_program_log();
  if (argc != 6) {
    std::fprintf(stderr, "Usage: %s <storage> <serial_number> <short_name> <version> <nemor_user>\n", argv[0]);
    return 1;
  }
  Request request{argv[1], argv[2], argv[3], argv[4], argv[5], {}};
  syslog(LOG_DEBUG, "Reading nemor_password from stdin.");
  if (!read_secret_line(stdin, request.nemor_pass)) {
    LOG_ERROR("Failed to read nemor_password from stdin.");
    return 1;
  }
  SessionPtr session;
  if (const char* refusal = create_session(request, session)) {
    http_print_bad_request(refusal);
    return 0;
  }
  take_start_snapshots(request, *session);
  http_print_reply(kHttpTextOk, "Session started.");
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return begin_monitor_session(argc, argv); }
