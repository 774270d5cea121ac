#include "lib/web/ptz_test.hpp"

#include <sys/stat.h>
#include <syslog.h>

#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cstring>
#include <limits>

#include "lib/base/atomic_file.hpp"
#include "lib/base/fileutil.hpp"
#include "lib/base/log.hpp"
#include "lib/base/pipe.hpp"
#include "lib/names/device_paths.hpp"
#include "lib/parse/validation.hpp"
#include "lib/web/httputil.hpp"

namespace trelvik {
namespace {

// The longest interval taken: the largest whole number that a JSON reader
// (the page's JavaScript) carries exactly, since the status report shows the
// interval as a JSON number. The settings file would carry more.
constexpr std::uint64_t kIntervalMax = (std::uint64_t{1} << 53) - 1;

// Readers look at no more of the first line than a 100-byte line buffer held.
constexpr std::size_t kLineLimit = 99;

// The first line of a settings file, or none when it cannot be opened or is
// empty. A setting being rewritten may read as empty: it is then absent for
// this one reading. `unreadable`, when given, tells a file that is there but
// could not be read (an I/O error) from an absent one.
std::optional<std::string> read_first_line(const std::string& path, bool* unreadable = nullptr) {
  File file(path.c_str(), "r");
  if (!file.is_open()) {
    if (unreadable != nullptr) *unreadable = errno != ENOENT && errno != ENOTDIR;
    errno = 0;  // no file means no setting
    return std::nullopt;
  }
  std::string line;
  const bool read = file.read_line(line);
  if (unreadable != nullptr) *unreadable = std::ferror(file.get()) != 0;
  // A failed read is no setting, not a setting cut short.
  if (!file.close() || !read) {
    errno = 0;
    return std::nullopt;
  }
  return line;
}

std::string_view cut_at(std::string_view text, char term) { return text.substr(0, text.find(term)); }

// Removes a settings file; only a file that is still there afterwards counts
// as a failure (a missing one is just an absent setting).
bool remove_setting(const std::string& path) {
  if (file_remove(path.c_str())) return true;
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0) {
    errno = 0;
    return true;
  }
  LOG_ERROR("Could not remove file '%s'", path.c_str());
  return false;
}

bool store_setting(const std::string& path, std::string_view contents) {
  if (atomic_replace(path, path + ".tmp", contents)) return true;
  LOG_ERROR("Could not open file '%s'", path.c_str());
  return false;
}

// A digits-only text as a number; beyond the 64-bit range it saturates.
std::uint64_t digits_value(std::string_view digits) {
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  (void)end;
  if (error == std::errc::result_out_of_range) return std::numeric_limits<std::uint64_t>::max();
  return value;
}

}  // namespace

std::uint64_t ptz_test_parse_interval(std::string_view text) {
  const std::string line(cut_at(text.substr(0, kLineLimit), '\n'));
  std::uint64_t value = 0;
  if (std::sscanf(line.c_str(), "T:%" SCNu64, &value) != 1) return 0;
  return value;
}

std::optional<std::string> ptz_test_parse_given_times(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::string_view line = text.substr(0, kLineLimit);
  line = cut_at(line, '\0');  // the text ends where a C reader's string would
  line = cut_at(line, '\n');
  // Cut at the first quote, so that the text can stand inside a JSON string.
  line = cut_at(line, '"');
  return std::string(line);
}

std::uint64_t ptz_test_interval_get() {
  const auto line = read_first_line(device::ptz_interval_file());
  return line ? ptz_test_parse_interval(*line) : 0;
}

std::optional<std::uint64_t> ptz_test_interval_read() {
  bool unreadable = false;
  const auto line = read_first_line(device::ptz_interval_file(), &unreadable);
  if (unreadable) return std::nullopt;
  return line ? ptz_test_parse_interval(*line) : 0;
}

bool ptz_test_interval_set(std::uint64_t interval) {
  const std::string path = device::ptz_interval_file();
  if (interval == 0) return remove_setting(path);
  char text[32];
  BOUNDED_FORMAT(text, sizeof text, "T:%" PRIu64 "\n", interval);
  return store_setting(path, text);
}

std::optional<std::string> ptz_test_given_times_get() {
  const auto line = read_first_line(device::ptz_times_file());
  return line ? ptz_test_parse_given_times(*line) : std::nullopt;
}

bool ptz_test_given_times_set(std::string_view times) {
  const std::string path = device::ptz_times_file();
  if (times.empty()) return remove_setting(path);
  std::string contents(times);
  contents += '\n';
  return store_setting(path, contents);
}

void ptz_autotest_interval_answer(const char* interval, FILE* out) {
  if (!validate_digits(interval)) {
    http_print_bad_request("Error: Interval must be only digits.", out);
    return;
  }
  const std::uint64_t minutes = digits_value(interval);
  if (minutes > kIntervalMax) {
    http_print_bad_request("Error: Interval is too long (at most 9007199254740991 minutes).", out);
    return;
  }
  if (minutes <= 2) {
    http_print_bad_request("Too short interval set (must exceed 2 minutes)", out);
    return;
  }
  const std::uint64_t previous = ptz_test_interval_get();
  if (!ptz_test_interval_set(minutes)) {
    http_print_bad_request("Error: Could not store the setting.", out);
    return;
  }
  http_print_reply(kHttpPlainTextOk, "Automatic PTZ test has been set.", out);
  if (previous == 0) {
    syslog(LOG_INFO, "Started automatic PTZ test: Every %" PRIu64 " hours.", minutes / 60);
  } else {
    syslog(LOG_INFO, "Updated automatic PTZ test interval: Every %" PRIu64 " hours.", minutes / 60);
  }
}

void ptz_autotest_times_answer(const char* times, FILE* out) {
  const bool previous = ptz_test_given_times_get().has_value();
  if (!ptz_test_given_times_set(times)) {
    http_print_bad_request("Error: Could not store the setting.", out);
    return;
  }
  http_print_reply(kHttpPlainTextOk, "PTZ test rule has been set.", out);
  syslog(LOG_INFO, "%s PTZ Test Times: %s", previous ? "Updated" : "Started", times);
}

void ptz_autotest_stop_answer(FILE* out) {
  // The header goes out before any setting is looked at: the answer is 200
  // whatever happens below.
  http_print_reply(kHttpPlainTextOk, "", out);
  std::fflush(out);
  // A setting that could not be removed is still in force: say nothing about it.
  if (const std::uint64_t interval = ptz_test_interval_get(); interval != 0 && ptz_test_interval_set(0)) {
    std::fputs("Automatic PTZ test has been stopped.", out);
    syslog(LOG_INFO, "Stopped automatic PTZ testing: Every %" PRIu64 " hours.", interval / 60);
  }
  if (const auto times = ptz_test_given_times_get(); times && ptz_test_given_times_set("")) {
    std::fputs("PTZ test rule at given times has been stopped.", out);
    syslog(LOG_INFO, "Stopped PTZ Times: %s.", times->c_str());
  }
}

}  // namespace trelvik
