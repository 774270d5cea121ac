#include "lib/base/local_time.hpp"

#include <sys/stat.h>

#include <cstdlib>
#include <ctime>

#include "lib/names/device_paths.hpp"
#include "lib/parse/time_zone_file.hpp"

namespace trelvik {

namespace {

constexpr std::int32_t kMixedHour = INT32_MIN;
constexpr std::int64_t kHour = 3600;
// Time zone changes lie months apart: a day on either side of a local time
// holds the offsets that can apply to it.
constexpr std::int64_t kDay = 86400;

// The offset east of UTC in force at the instant `utc`.
std::int64_t offset_at(std::int64_t utc) {
  const std::time_t when = static_cast<std::time_t>(utc);
  std::tm parts{};
  if (localtime_r(&when, &parts) == nullptr) return 0;
  return parts.tm_gmtoff;
}

bool zone_file_exists(std::string_view name) {
  struct stat status {};
  const std::string path = device::host_zoneinfo_dir() + std::string(name);
  return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

}  // namespace

std::optional<LocalTimeConverter> LocalTimeConverter::open(std::string_view zone, std::string& error) {
  if (zone == "UTC" || zone == "Etc/UTC") return fixed(0);
  if (const std::optional<int> minutes = parse_utc_offset(zone)) return fixed(*minutes);
  if (!is_iana_zone_name(zone) || !zone_file_exists(zone)) {
    error = "the time zone '" + std::string(zone) + "' is not in this machine's time zone database";
    return std::nullopt;
  }
  // The leading colon makes the C library read the zone's file, never a
  // POSIX rule that happens to look like the name.
  ::setenv("TZ", (":" + std::string(zone)).c_str(), 1);
  ::tzset();
  return LocalTimeConverter(std::string(zone), std::nullopt);
}

LocalTimeConverter LocalTimeConverter::fixed(int offset_minutes) {
  return LocalTimeConverter(offset_minutes == 0 ? "UTC" : format_utc_offset(offset_minutes), offset_minutes);
}

LocalTimeConverter::Utc LocalTimeConverter::resolve(std::int64_t local) const {
  std::optional<std::int64_t> found;
  bool ambiguous = false;
  for (const std::int64_t offset : {offset_at(local - kDay), offset_at(local + kDay)}) {
    const std::int64_t utc = local - offset;
    if (offset_at(utc) != offset) continue;
    if (found && *found != utc) ambiguous = true;
    found = utc;
  }
  if (ambiguous) return {Fit::ambiguous, 0};
  if (!found) return {Fit::skipped, 0};
  return {Fit::exact, *found};
}

LocalTimeConverter::Utc LocalTimeConverter::to_utc(std::int64_t local) {
  if (fixed_minutes_) return {Fit::exact, local - *fixed_minutes_ * 60LL};
  const std::int64_t hour = local >= 0 ? local / kHour : (local - kHour + 1) / kHour;
  auto known = hours_.find(hour);
  if (known == hours_.end()) {
    const Utc first = resolve(hour * kHour);
    const Utc last = resolve(hour * kHour + kHour - 1);
    const bool steady = first.fit == Fit::exact && last.fit == Fit::exact && first.seconds + kHour - 1 == last.seconds;
    known = hours_.emplace(hour, steady ? static_cast<std::int32_t>(hour * kHour - first.seconds) : kMixedHour).first;
  }
  if (known->second == kMixedHour) return resolve(local);
  return {Fit::exact, local - known->second};
}

}  // namespace trelvik
