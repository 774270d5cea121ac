// The monitoring session record and the state file that holds it. At most one
// session exists; every user loads the record from the file, uses it and lets
// it go, so a change by one program is seen by the others at their next load.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace trelvik {

struct monitoring_session {
  std::optional<std::string> storage_id;              // none for the internal storage
  std::optional<std::string> secondary_storage_path;  // ends in "/"
  std::optional<std::string> current_activity_folder; // "%Y%m%d_%H_%M_%S"
  std::optional<std::string> session_path;            // the two above joined; derived when loading
  std::optional<std::string> monitor_start_time;      // "%a %b %e %H:%M:%S %Z %Y"
};

using SessionPtr = std::unique_ptr<monitoring_session>;

SessionPtr monitoring_session_new();
// Not null, with a storage path and an activity folder.
bool monitoring_session_is_active(const monitoring_session* session);
// Writes the state file atomically, or removes it when `session` is null.
// False (with the "Could not open file" line) when the file could not be
// written; the previous file then stays as it was.
bool monitoring_session_save(const monitoring_session* session);
// The complete record from the state file, or null: silently when there is no
// file, with one error line when it is incomplete or cannot be read.
SessionPtr monitoring_session_load();

// What a load found: the record, or null and whether a state file is there
// that could not be read. Such a file may well hold a running session, so
// whoever would start one must not take it for "no session".
struct SessionLoad {
  SessionPtr session;
  bool unreadable = false;
};
SessionLoad monitoring_session_load_checked();

// Pure parse of the state file's text (the load's rules, without the I/O and
// without logging). Fields stay unset where their key is missing.
monitoring_session monitoring_session_parse(const std::string& text);
// The four lines that save writes.
std::string monitoring_session_format(const monitoring_session& session);

}  // namespace trelvik
