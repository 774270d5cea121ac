#include "lib/session.hpp"

#include <syslog.h>

#include <string>

#include "lib/archive.hpp"
#include "lib/atomic_file.hpp"
#include "lib/dateutil.hpp"
#include "lib/filehandler.hpp"
#include "lib/fileutil.hpp"
#include "lib/log.hpp"
#include "lib/onvif.hpp"
#include "lib/parse/session_info.hpp"
#include "lib/pipe.hpp"
#include "lib/session_layout.hpp"
#include "lib/shell_quote.hpp"
#include "lib/sysutil.hpp"

namespace trelvik {
namespace {

bool signature_has_end(const std::string& signature) {
  File in(signature.c_str(), "r");
  std::string line;
  while (in.read_line(line)) {
    if (line.starts_with("End")) return true;
  }
  errno = 0;  // a missing signature is simply written afresh
  return false;
}

void write_signature_end(const std::string& session_path) {
  if (signature_has_end(session_layout::session_file(session_path, session_layout::kSignature))) return;
  qorm_systemf("(echo \"End: $(date)\") >> %s/%s", shell_word(session_path).c_str(), session_layout::kSignature);
}

void write_stop_time(const std::string& session_path) {
  char stop_time[100] = {};
  date_format_now(stop_time, sizeof stop_time, "%a %b %e %H:%M:%S %Z %Y");
  const std::string info = session_layout::session_file(session_path, session_layout::kInfoFile);
  const FileLock lock(session_path);
  std::string text;
  if (!read_text_file(info, text)) {
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
  File out(info.c_str(), "a");
  if (!out.is_open()) {
    LOG_ERROR("Could not open file '%s'", info.c_str());
    return;
  }
  std::fprintf(out.get(), "Session Size: %s\r\n", size_text);
  if (!out.close()) LOG_ERROR("Could not open file '%s'", info.c_str());
}

}  // namespace

void end_monitor_session(const monitoring_session* session, const char* nemor_username, const char* nemor_password) {
  if (!monitoring_session_is_active(session)) {
    LOG_ERROR("Monitoring session is not activated, can not deactive.");
    return;
  }
  const std::string& session_path = *session->session_path;
  onvif_copy_media_conf(session_path.c_str());
  write_signature_end(session_path);
  write_stop_time(session_path);
  monitoring_session_save(nullptr);
  syslog(LOG_DEBUG, "create_serverreport_snapshot");
  create_serverreport_snapshot(*session, nemor_username, nemor_password);
  write_session_size(session_path);
  const std::string archive = session_layout::archive(session_path);
  if (is_file(archive.c_str())) file_remove(archive.c_str());
  zip_session(session_path.c_str());
}

}  // namespace trelvik
