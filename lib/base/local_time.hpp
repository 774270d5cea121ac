// Local times without a zone (the CSV rows' dates and times) placed in UTC
// through a zone of the time zone database or a fixed offset. A local time
// that a daylight-saving change makes ambiguous (the hour repeated in autumn)
// or skips (the hour missing in spring) is reported, never guessed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace trelvik {

class LocalTimeConverter {
 public:
  enum class Fit { exact, ambiguous, skipped };
  struct Utc {
    Fit fit;
    std::int64_t seconds;  // valid for exact only
  };

  // For "UTC", a fixed offset "±HHMM" or an IANA name found in the host's
  // time zone database (the C library then works in that zone: this sets
  // the process's TZ). Nothing, with `error` set, for anything else.
  static std::optional<LocalTimeConverter> open(std::string_view zone, std::string& error);
  static LocalTimeConverter fixed(int offset_minutes);

  // `local_seconds`: the local date and time counted as if it were UTC.
  Utc to_utc(std::int64_t local_seconds);
  const std::string& zone() const { return zone_; }

 private:
  explicit LocalTimeConverter(std::string zone, std::optional<int> fixed_minutes)
      : zone_(std::move(zone)), fixed_minutes_(fixed_minutes) {}
  Utc resolve(std::int64_t local_seconds) const;

  std::string zone_;
  std::optional<int> fixed_minutes_;
  // The offset (seconds east) that holds for a whole local hour, or
  // kMixedHour for an hour with a change in it: a week has a few hundred
  // hours but millions of rows.
  std::unordered_map<std::int64_t, std::int32_t> hours_;
};

}  // namespace trelvik
