// The camera's time zone, recorded at the start of a session so that the
// rows' local times can be placed in UTC later (lib/parse/time_zone_file).
#pragma once

#include <ctime>
#include <optional>
#include <string>

#include "lib/parse/time_zone_file.hpp"

namespace trelvik {

// The zone's IANA name: TZ when it names one, else the device's
// /etc/timezone, else the zone database file that /etc/localtime links to,
// else one that the UTC offset at `now` names ("UTC", "Etc/GMT-1"). The
// offset is the C library's at `now`, the one the CSV rows are written in.
// Nothing when no name fits the offset (a half-hour zone with no name found).
std::optional<SessionTimeZone> camera_time_zone(std::time_t now);

// Writes the session's time zone file (atomic replace). False, logged, when
// it could not be written or no zone was found; the session goes on, and is
// read as UTC later.
bool record_session_time_zone(const std::string& session_path);

}  // namespace trelvik
