// The state file that holds the running monitoring session: four lines
// "SECS:", "SSPA:", "ACTI:" and "TIME:" with their values.
#pragma once

#include <optional>
#include <string>

namespace trelvik {

struct monitoring_session {
  std::optional<std::string> storage_id;               // none for the internal storage
  std::optional<std::string> secondary_storage_path;   // ends in "/"
  std::optional<std::string> current_activity_folder;  // "%Y%m%d_%H_%M_%S"
  std::optional<std::string> session_path;             // the two above joined; derived when loading
  std::optional<std::string> monitor_start_time;       // "%a %b %e %H:%M:%S %Z %Y"
};

// The record in the state file's text; fields stay unset where their key
// is missing, and the session path is left to the loader.
monitoring_session monitoring_session_parse(const std::string& text);
// The four lines that save writes.
std::string monitoring_session_format(const monitoring_session& session);

}  // namespace trelvik
