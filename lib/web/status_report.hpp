// The status report: whether a session is active, the device time, the PTZ
// test settings and every stored session of this device, as one JSON
// document. The stored sessions come from the package's collector script,
// one "PATH:"/"Start: "/"End: "/"SIZE:"/"ZIPSIZE:" block per session closed
// by "=== SESSION END ===".
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "lib/parse/collector_output.hpp"

namespace trelvik {

// The JSON object of one session, every value escaped.
std::string status_session_json(const CollectedSession& session);
// The header block and the document up to the "miscellaneous" object.
std::string status_report_head(bool active, std::string_view device_time, std::uint64_t interval,
                               std::string_view given_times);
// The collector's command line for `serial_number` (quoted for the shell).
std::string status_collector_command(std::string_view serial_number);

// Writes the "sessions" array, from "[" to "]", to `dest`. A collector that
// cannot be started is logged and gives "[]"; an unterminated last block is
// dropped.
void print_previous_sessions(FILE* dest, std::string_view serial_number);
// Writes the whole reply (header block and document) to `out`.
void status_report_print(std::string_view serial_number, FILE* out = stdout);

}  // namespace trelvik
