// Event stream parser: gathers the text lines of one device event into a
// record and logs one "Metadata Event <timestamp> <topic path>" line per
// event when the event's end line arrives.
#pragma once

#include <array>
#include <cstdio>
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

// The process's one record, empty until lines fill it.
eventlistener_Event& get_global_event_buffer();

// Consumes one input line (line feed included when it has one) into the
// global record; logs and empties it at an event end line.
void parse_eventlistener_line(std::string_view line);
// The same on a caller's record.
void parse_eventlistener_line(std::string_view line, eventlistener_Event& event);

// Copies the text between the first "[" and the next "]" into `buffer`, cut
// to `max` bytes; without both brackets `buffer` keeps its value.
void parse_parameter(std::string_view line, std::string& buffer, std::size_t max);
// Stores at most one timestamp or topic found on a topic/timestamp line;
// malformed topics are skipped with a warning.
void parse_tokens(std::string_view line, eventlistener_Event& event);
// Writes the event line; an event whose topic path exceeds 511 bytes is
// dropped with an error line.
void log_event(const eventlistener_Event& event);

// Feeds every line of `in` to parse_eventlistener_line, in pieces of at most
// 4095 bytes; returns the program's exit status (0).
int eventlistener_run(std::FILE* in);

}  // namespace trelvik
