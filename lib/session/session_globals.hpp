// The monitoring session record and the state file that holds it. At most one
// session exists; every user loads the record from the file, uses it and lets
// it go, so a change by one program is seen by the others at their next load.
#pragma once

#include <memory>

#include "lib/parse/state_file.hpp"

namespace trelvik {

using SessionPtr = std::unique_ptr<monitoring_session>;

SessionPtr monitoring_session_new();
// Not null, with a storage path and an activity folder.
bool monitoring_session_is_active(const monitoring_session* session);
// Writes the state file atomically, or removes it (and syncs its folder)
// when `session` is null. False (with the "Could not open file" line) when
// the file could not be written, or (with "Could not remove file") when it
// stays; the previous file then stays as it was.
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

}  // namespace trelvik
