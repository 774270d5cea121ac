#include "lib/session.hpp"

#include <syslog.h>

#include <string>

#include "lib/atomic_file.hpp"
#include "lib/dateutil.hpp"
#include "lib/filehandler.hpp"
#include "lib/fileutil.hpp"
#include "lib/log.hpp"
#include "lib/onvif.hpp"
#include "lib/pipe.hpp"
#include "lib/shell_quote.hpp"
#include "lib/strutil.hpp"
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
  if (signature_has_end(session_path + "/.signature")) return;
  qorm_systemf("(echo \"End: $(date)\") >> %s/%s", shell_word(session_path).c_str(), ".signature");
}

void write_stop_time(const std::string& session_path) {
  char stop_time[100] = {};
  date_format_now(stop_time, sizeof stop_time, "%a %b %e %H:%M:%S %Z %Y");
  const std::string info = session_path + "/Session_Information.txt";
  const FileLock lock(session_path);
  std::string text;
  if (!read_text_file(info, text)) {
    errno = 0;  // no information file: no stop time line, the size line still comes
    return;
  }
  const std::string temporary = session_path + "/Session_Information_tmp.txt";
  if (!atomic_replace(info, temporary, session_info_close(text, stop_time))) {
    LOG_ERROR("Could not open file '%s'", info.c_str());
  }
}

void write_session_size(const std::string& session_path) {
  char size_text[24] = {};
  suffix_bytes(size_text, sizeof size_text, static_cast<std::int64_t>(get_dir_size_bytes(session_path.c_str())));
  const std::string info = session_path + "/Session_Information.txt";
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

std::string session_info_close(const std::string& text, const std::string& stop_time) {
  std::string out;
  for (const std::string_view line : split_lines(text)) {
    if (line.find("Stop Time of the session:") == std::string_view::npos &&
        line.find("Session Size: ") == std::string_view::npos) {
      out += line;
    }
  }
  return out + "Stop Time of the session: " + stop_time + "\r\n";
}

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
  const std::string archive = session_path + ".zip";
  if (is_file(archive.c_str())) file_remove(archive.c_str());
  zip_session(session_path.c_str());
}

}  // namespace trelvik
