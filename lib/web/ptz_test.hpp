// The automatic PTZ test settings: a repeat interval in minutes and a list of
// clock times, each in its own file in the package's data folder, and the
// three web actions that set and clear them. Nothing is cached: every reader
// opens the file again, which is how the daemon sees an action's change.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace trelvik {

// The stored interval in minutes; 0 when none is stored or the file cannot
// be read (never an error).
std::uint64_t ptz_test_interval_get();
// The same for the daemon's schedule, which must tell a file that cannot be
// read (kept schedule) from one that is not there (no test): nothing then.
std::optional<std::uint64_t> ptz_test_interval_read();
// Stores "T:<interval>\n" atomically; 0 removes the file. False, with one
// error line, when the setting could not be stored (the old file stays).
bool ptz_test_interval_set(std::uint64_t interval);
// The stored given-times text (at most 99 bytes, cut at the line end and at
// the first double quote), or none when no setting is stored.
std::optional<std::string> ptz_test_given_times_get();
// Stores `times` and a line feed atomically, unchanged; an empty text removes
// the file. False, with one error line, when it could not be stored.
bool ptz_test_given_times_set(std::string_view times);

// The interval that a settings file's text holds ("T:%lu" on its first
// line), 0 when it does not match.
std::uint64_t ptz_test_parse_interval(std::string_view text);
// The given-times text that a settings file's text holds; none when the text
// is empty (the file holds no line).
std::optional<std::string> ptz_test_parse_given_times(std::string_view text);

// The three actions after their argument check: each writes its one reply to
// `out` and logs one informational line per change.
void ptz_autotest_interval_answer(const char* interval, FILE* out = stdout);
void ptz_autotest_times_answer(const char* times, FILE* out = stdout);
void ptz_autotest_stop_answer(FILE* out = stdout);

}  // namespace trelvik
