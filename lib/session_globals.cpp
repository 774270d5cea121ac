#include "lib/session_globals.hpp"

#include <cerrno>
#include <cstring>
#include <string_view>
#include <utility>

#include "lib/atomic_file.hpp"
#include "lib/device_paths.hpp"
#include "lib/fileutil.hpp"
#include "lib/log.hpp"
#include "lib/pipe.hpp"
#include "lib/strutil.hpp"

namespace trelvik {

SessionPtr monitoring_session_new() { return std::make_unique<monitoring_session>(); }

bool monitoring_session_is_active(const monitoring_session* session) {
  return session != nullptr && session->secondary_storage_path && session->current_activity_folder;
}

namespace {

void apply_line(monitoring_session& session, std::string_view line) {
  if (const auto cut = line.find('\n'); cut != std::string_view::npos) line = line.substr(0, cut);
  if (line.size() < 5) return;
  const std::string_view key = line.substr(0, 5);
  const std::string value(line.substr(5));
  if (key == "SECS:") {
    // Anything beginning with the word marks the internal storage.
    if (value.starts_with("localdata")) {
      session.storage_id.reset();
    } else {
      session.storage_id = value;
    }
  } else if (key == "SSPA:") {
    session.secondary_storage_path = value;
  } else if (key == "ACTI:") {
    session.current_activity_folder = value;
  } else if (key == "TIME:") {
    session.monitor_start_time = value;
  }
}

}  // namespace

monitoring_session monitoring_session_parse(const std::string& text) {
  monitoring_session session;
  for (const std::string_view line : split_lines(text)) apply_line(session, line);
  return session;
}

std::string monitoring_session_format(const monitoring_session& session) {
  std::string text;
  text += "SECS:" + session.storage_id.value_or("localdata") + "\n";
  text += "SSPA:" + session.secondary_storage_path.value_or("") + "\n";
  text += "ACTI:" + session.current_activity_folder.value_or("") + "\n";
  text += "TIME:" + session.monitor_start_time.value_or("") + "\n";
  return text;
}

bool monitoring_session_save(const monitoring_session* session) {
  const std::string path = device::state_file();
  if (session == nullptr) {
    file_remove(path.c_str());
    return true;
  }
  if (!atomic_replace(path, path + ".tmp", monitoring_session_format(*session))) {
    LOG_ERROR("Could not open file '%s'", path.c_str());
    return false;
  }
  return true;
}

SessionPtr monitoring_session_load() { return monitoring_session_load_checked().session; }

SessionLoad monitoring_session_load_checked() {
  const std::string path = device::state_file();
  std::string text;
  if (!read_text_file(path, text)) {
    if (errno == ENOENT) {
      errno = 0;  // no session is the normal case, not an error
      return {};
    }
    LOG_ERROR("Could not open file '%s'", path.c_str());
    return {nullptr, true};
  }

  auto session = std::make_unique<monitoring_session>(monitoring_session_parse(text));
  if (!session->monitor_start_time) {
    LOG_ERROR("Could not restore monitoring session: Missing start time.");
    return {};
  }
  if (!session->secondary_storage_path || !session->current_activity_folder) {
    LOG_ERROR("Could not restore monitoring session: Missing secondary storage path or current activity folder.");
    return {};
  }
  session->session_path = *session->secondary_storage_path + *session->current_activity_folder;
  return {std::move(session), false};
}

}  // namespace trelvik
