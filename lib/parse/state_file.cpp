#include "lib/parse/state_file.hpp"

#include <string_view>

#include "lib/parse/text.hpp"

namespace trelvik {
namespace {

void apply_line(monitoring_session& session, std::string_view line) {
  line = line_body(line);
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

}  // namespace trelvik
