// The session's time zone file: the camera's IANA zone and its UTC offset at
// the start of the session, two lines, "Zone: <name>" and "UTC offset:
// <±HHMM>". The CSV rows carry local time without a zone; this file places
// them in time.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace trelvik {

struct SessionTimeZone {
  std::string zone;    // an IANA name ("Europe/Stockholm", "UTC")
  int offset_minutes;  // east of UTC
};

// The file's text, exactly the two lines.
std::string format_time_zone_file(const SessionTimeZone& zone);
// The two lines (CR before a line feed tolerated); nothing for any other
// text or a zone name that is not a plain IANA name.
std::optional<SessionTimeZone> parse_time_zone_file(std::string_view text);

// "+0100", "-0330": minutes east of UTC; nothing beyond ±14 hours.
std::optional<int> parse_utc_offset(std::string_view text);
std::string format_utc_offset(int offset_minutes);

// A zone name of the IANA database: letters, digits, "_", "-", "+" and "/"
// between non-empty parts, no "." part; so it names a file below the
// database's folder and never one outside it.
bool is_iana_zone_name(std::string_view name);

}  // namespace trelvik
