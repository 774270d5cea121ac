// Lines of the device's event tool: the topics, timestamp and data items of
// one event, gathered line by line until the event's end line.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace trelvik {

// The event being gathered. Each text keeps the byte limit of its field:
// topics 47 ("prefix:name"), timestamp 31, the two data items 127.
struct eventlistener_Event {
  std::array<std::string, 10> topics;
  std::string timestamp;
  std::string onvif_source;
  std::string onvif_data_property_state;
};

// What one line did to the event being gathered.
struct EventLine {
  bool ends_event = false;             // an end line of an event with a first topic or a time
  std::optional<std::string> warning;  // a malformed topic, skipped
};

// Consumes one input line (line feed included when it has one) into `event`.
// At an end line the event is left as gathered for the caller to log and
// empty; an end line of an event without its first topic or a time belongs
// to no event.
EventLine parse_event_line(std::string_view line, eventlistener_Event& event);

// Copies the text between the first "[" and the next "]" into `buffer`, cut
// to `max` bytes; without both brackets `buffer` keeps its value.
void parse_parameter(std::string_view line, std::string& buffer, std::size_t max);
// Stores at most one timestamp or topic found on a topic/timestamp line;
// a malformed topic is skipped and its warning returned.
std::optional<std::string> parse_tokens(std::string_view line, eventlistener_Event& event);
}  // namespace trelvik
