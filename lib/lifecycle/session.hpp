// Ending a monitoring session: closes its records, removes the state file,
// takes the last server report, writes the size and starts the archive.
#pragma once

#include "lib/session/session_globals.hpp"

namespace trelvik {

// Ends the active session `session` (the caller keeps the record); used by
// the end_monitor_session action and by the daemon when the storage fills up.
// Logs and does nothing for an inactive record. False when the session goes
// on: inactive, or its state file could not be removed (its records are then
// put back as they were).
bool end_monitor_session(const monitoring_session* session, const char* nemor_username, const char* nemor_password);

}  // namespace trelvik
