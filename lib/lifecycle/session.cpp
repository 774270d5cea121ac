#include "lib/lifecycle/session.hpp"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>

#include <optional>
#include <string>

#include "lib/base/atomic_file.hpp"
#include "lib/base/dateutil.hpp"
#include "lib/base/fileutil.hpp"
#include "lib/base/log.hpp"
#include "lib/base/safe_fs.hpp"
#include "lib/collect/filehandler.hpp"
#include "lib/collect/onvif.hpp"
#include "lib/lifecycle/archive.hpp"
#include "lib/lifecycle/archive_recovery.hpp"
#include "lib/names/session_layout.hpp"
#include "lib/parse/session_info.hpp"

namespace trelvik {
namespace {

// Appends to a file of the session folder, created when missing; never
// through a link.
bool append_text(const std::string& path, std::string_view text) {
  const safe_fs::Fd file = safe_fs::open_file(path, O_WRONLY | O_APPEND | O_CREAT, 0644);
  if (!file.valid()) return false;
  while (!text.empty()) {
    const ssize_t written = ::write(file.get(), text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// The end line goes to the card before the state file goes: from it the
// daemon knows an ended session that still needs its archive.
void write_signature_end(const std::string& session_path) {
  if (session_has_ended(session_path)) return;
  const std::string signature = session_layout::session_file(session_path, session_layout::kSignature);
  // The date command's default text (no locale), as the start line has it.
  char date[100] = {};
  date_format_now(date, sizeof date, "%a %b %e %H:%M:%S %Z %Y");
  if (!append_text(signature, std::string("End: ") + date + "\n") || !sync_path(signature)) {
    LOG_ERROR("Could not write file '%s'", signature.c_str());
  }
}

void write_stop_time(const std::string& session_path) {
  char stop_time[100] = {};
  date_format_now(stop_time, sizeof stop_time, "%a %b %e %H:%M:%S %Z %Y");
  const std::string info = session_layout::session_file(session_path, session_layout::kInfoFile);
  const FileLock lock(session_path);
  std::string text;
  if (!safe_fs::read_file(info, text)) {
    errno = 0;  // no information file: no stop time line, the size line still comes
    return;
  }
  const std::string temporary = session_layout::session_file(session_path, session_layout::kInfoRewriteTemp);
  if (!atomic_replace(info, temporary, session_info_close(text, stop_time))) {
    LOG_ERROR("Could not open file '%s'", info.c_str());
  }
}

void write_session_size(const std::string& session_path) {
  char size_text[24] = {};
  suffix_bytes(size_text, sizeof size_text, static_cast<std::int64_t>(get_dir_size_bytes(session_path.c_str())));
  const std::string info = session_layout::session_file(session_path, session_layout::kInfoFile);
  const FileLock lock(session_path);
  if (!append_text(info, std::string("Session Size: ") + size_text + "\r\n") || !sync_path(info)) {
    LOG_ERROR("Could not open file '%s'", info.c_str());
  }
}

// What a session's records held before its end began; put back when the
// session goes on after all.
struct SessionRecords {
  std::optional<std::string> info;
  std::optional<std::string> signed_text;  // the signature file
};

std::optional<std::string> read_record(const std::string& path) {
  std::string text;
  if (!safe_fs::read_file(path, text)) {
    errno = 0;  // not there: nothing to put back
    return std::nullopt;
  }
  return text;
}

std::string in_session(const std::string& session_path, const char* name) {
  return session_layout::session_file(session_path, name);
}

SessionRecords read_records(const std::string& session_path) {
  return {read_record(in_session(session_path, session_layout::kInfoFile)),
          read_record(in_session(session_path, session_layout::kSignature))};
}

void put_back(const std::string& path, const std::string& temporary, const std::optional<std::string>& text) {
  const bool restored =
      text ? atomic_replace(path, temporary, *text) : (file_remove(path.c_str()) || !is_file(path.c_str()));
  if (!restored) LOG_ERROR("Could not open file '%s'", path.c_str());
}

void put_back_records(const std::string& session_path, const SessionRecords& records) {
  using namespace session_layout;
  const FileLock lock(session_path);
  put_back(in_session(session_path, kInfoFile), in_session(session_path, kInfoRewriteTemp), records.info);
  put_back(in_session(session_path, kSignature), in_session(session_path, kSignatureTemp), records.signed_text);
}

}  // namespace

bool end_monitor_session(const monitoring_session* session, const char* nemor_username, const char* nemor_password) {
  if (!monitoring_session_is_active(session)) {
    LOG_ERROR("Monitoring session is not activated, can not deactive.");
    return false;
  }
  const std::string& session_path = *session->session_path;
  onvif_copy_media_conf(session_path.c_str());
  // Every mark of the end (end line, stop time, last server report, size) is
  // on the card before the state file goes: a power cut or a kill at any
  // moment leaves either the running session or an ended one with all its
  // marks, which the daemon archives if this run cannot.
  const SessionRecords before = read_records(session_path);
  write_signature_end(session_path);
  write_stop_time(session_path);
  syslog(LOG_DEBUG, "create_serverreport_snapshot");
  create_serverreport_snapshot(*session, nemor_username, nemor_password);
  write_session_size(session_path);
  if (!monitoring_session_save(nullptr)) {
    // The state file stays, so the session goes on: its records say so again.
    put_back_records(session_path, before);
    return false;
  }
  const std::string archive = session_layout::archive(session_path);
  if (is_file(archive.c_str())) file_remove(archive.c_str());
  zip_session(session_path.c_str());
  return true;
}

}  // namespace trelvik
