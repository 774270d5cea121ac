// Archive recovery: a session that ended (its ".signature" holds the end
// line, the state file no longer names it) but has no whole archive beside
// it, because the power went, the ending program was killed or the card was
// full, is archived by the daemon at start and on its ticks.
#pragma once

#include <string>

#include "lib/session/session_globals.hpp"

namespace trelvik {

// Starts the archive of every ended session of this device (application
// folders "Trelvik_<serial_number>" on the edge storages, and the internal
// storage) that has none, with one informational line each; `active` (may be
// null) is left alone. An archive that failed is tried again once an hour.
void archive_ended_sessions(const char* serial_number, const monitoring_session* active);

// True when the session folder's ".signature" holds a line beginning "End".
bool session_has_ended(const std::string& session_path);

}  // namespace trelvik
