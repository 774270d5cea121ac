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

// True when `archive` is a whole zip file: it ends with the end record
// ("PK\5\6") that zip writes last.
bool is_whole_archive(const std::string& archive);

// Runs the archive `command` (which writes `archive`, both relative to the
// current working directory) in a process of its own that outlives the
// caller, as the background zip always has: the caller returns at once. When
// zip has ended well the archive and its folder are synced, so that a power
// cut after it leaves the whole archive; a zip that fails (a full card) is
// logged at error level, and archive recovery tries again later.
void start_detached_archive(const std::string& command, const std::string& archive);

// True when the session folder's ".signature" holds a line beginning "End".
bool session_has_ended(const std::string& session_path);

}  // namespace trelvik
