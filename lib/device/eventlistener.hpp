// Event stream parser: gathers the text lines of one device event into a
// record and logs one "Metadata Event <timestamp> <topic path>" line per
// event when the event's end line arrives.
#pragma once

#include <cstdio>
#include <string_view>

#include "lib/parse/event_lines.hpp"

namespace trelvik {

// The process's one record, empty until lines fill it.
eventlistener_Event& get_global_event_buffer();

// Consumes one input line (line feed included when it has one) into the
// global record; logs and empties it at an event end line.
void parse_eventlistener_line(std::string_view line);
// The same on a caller's record.
void parse_eventlistener_line(std::string_view line, eventlistener_Event& event);

// Writes the event line; an event whose topic path exceeds 511 bytes is
// dropped with an error line.
void log_event(const eventlistener_Event& event);

// Feeds every line of `in` to parse_eventlistener_line, in pieces of at most
// 4095 bytes; returns the program's exit status (0).
int eventlistener_run(std::FILE* in);

}  // namespace trelvik
