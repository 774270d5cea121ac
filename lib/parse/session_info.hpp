// The fields of a session's information file ("<field>: <value>" lines) and
// the rewrites the daemon and the end of a session make to its text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace trelvik {

// A field updater: the replacement value for a line's value text (line end
// included), or none to keep the line.
using value_callback = std::optional<std::string> (*)(const std::string& value);
// The rewritten text: every line "<field>: ..." whose updater gives a value
// becomes "<field>: <value>\n"; without one, the field with `default_value`
// is appended.
std::string session_info_rewrite(const std::string& text, const std::string& field, const char* default_value,
                                 value_callback cb);
// "Collected Data Points": the count plus one (32-bit, wrapping).
std::optional<std::string> update_data_points(const std::string& value);
// "Duration": "<d> Days <h> hours <m> minutes" one minute on; none for a value
// that does not read so.
std::optional<std::string> update_duration(const std::string& value);

// The text at deactivation: every line holding "Stop Time of the session:" or
// "Session Size: " is dropped and the stop time line appended.
std::string session_info_close(const std::string& text, const std::string& stop_time);

// The facts the export joins to every series, from the information file's
// "Model Name", "Serial Number", "Firmware version" and "Edge storage
// location" lines, and the "Collected Data Points" count (empty when
// missing).
struct SessionFacts {
  std::string model;
  std::string serial;
  std::string firmware;
  std::string storage;
  std::string data_points;
};
SessionFacts parse_session_facts(std::string_view text);

}  // namespace trelvik
