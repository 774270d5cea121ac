#include "lib/session/time_zone.hpp"

#include <syslog.h>

#include <cstdlib>
#include <filesystem>

#include "lib/base/atomic_file.hpp"
#include "lib/base/log.hpp"
#include "lib/base/pipe.hpp"
#include "lib/names/device_paths.hpp"
#include "lib/names/session_layout.hpp"

namespace trelvik {

namespace {

// "…/zoneinfo/Europe/Stockholm" (a path into the database, as TZ or the
// /etc/localtime link give it): the part after "zoneinfo/", without the
// database's "posix/" variant folder.
std::string_view after_zoneinfo(std::string_view path) {
  const std::size_t at = path.rfind("zoneinfo/");
  if (at != std::string_view::npos) path.remove_prefix(at + 9);
  if (path.starts_with("posix/")) path.remove_prefix(6);
  return path;
}

// TZ holds a zone name (":Europe/Stockholm", "Europe/Stockholm", a path into
// the database) or a POSIX rule ("CET-1CEST,M3.5.0,M10.5.0/3"); only a name
// with a region or "UTC" is taken: a rule names no zone of the database.
std::optional<std::string> zone_from_environment() {
  const char* value = std::getenv("TZ");
  if (value == nullptr) return std::nullopt;
  std::string_view name(value);
  if (name.starts_with(':')) name.remove_prefix(1);
  name = after_zoneinfo(name);
  if (!is_iana_zone_name(name) || (name.find('/') == std::string_view::npos && name != "UTC")) return std::nullopt;
  return std::string(name);
}

std::optional<std::string> zone_from_timezone_file() {
  std::string text;
  if (!read_text_file(device::etc_timezone(), text)) {
    errno = 0;
    return std::nullopt;
  }
  const std::string name = text.substr(0, text.find('\n'));
  if (!is_iana_zone_name(name)) return std::nullopt;
  return name;
}

// The link's target in the database (a relative link too).
std::optional<std::string> zone_from_localtime_link() {
  std::error_code error;
  const std::string target = std::filesystem::read_symlink(device::etc_localtime(), error).string();
  if (error || target.find("zoneinfo/") == std::string::npos) return std::nullopt;
  const std::string_view name = after_zoneinfo(target);
  if (!is_iana_zone_name(name)) return std::nullopt;
  return std::string(name);
}

// The database's fixed zones: "Etc/GMT-1" is one hour east of UTC (POSIX
// signs are inverted).
std::optional<std::string> zone_from_offset(int offset_minutes) {
  if (offset_minutes == 0) return "UTC";
  if (offset_minutes % 60 != 0) return std::nullopt;
  const int hours = offset_minutes / 60;
  return std::string("Etc/GMT") + (hours > 0 ? "-" : "+") + std::to_string(std::abs(hours));
}

}  // namespace

std::optional<SessionTimeZone> camera_time_zone(std::time_t now) {
  std::tm parts{};
  if (localtime_r(&now, &parts) == nullptr) return std::nullopt;
  const int offset = static_cast<int>(parts.tm_gmtoff / 60);
  std::optional<std::string> name = zone_from_environment();
  if (!name) name = zone_from_timezone_file();
  if (!name) name = zone_from_localtime_link();
  if (!name) name = zone_from_offset(offset);
  if (!name) return std::nullopt;
  return SessionTimeZone{*name, offset};
}

bool record_session_time_zone(const std::string& session_path) {
  const std::optional<SessionTimeZone> zone = camera_time_zone(std::time(nullptr));
  if (!zone) {
    syslog(LOG_WARNING, "The camera's time zone was not found: the session's times will be read as UTC.");
    return false;
  }
  const std::string path = session_layout::session_file(session_path, session_layout::kTimeZoneFile);
  if (!atomic_replace(path, session_layout::session_file(session_path, session_layout::kTimeZoneTemp),
                      format_time_zone_file(*zone))) {
    LOG_ERROR("Could not write file '%s'", path.c_str());
    return false;
  }
  syslog(LOG_DEBUG, "Session time zone: %s (%s)", zone->zone.c_str(), format_utc_offset(zone->offset_minutes).c_str());
  return true;
}

}  // namespace trelvik
