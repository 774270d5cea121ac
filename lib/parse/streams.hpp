// The stream list of the streaming service as dbus-send prints it, after
// "grep string | sort".
#pragma once

#include <string>
#include <string_view>

namespace trelvik {

// The Streams cell of one row: the values of the "string" lines joined by
// "+" (one entry per line, however long), or "No streams " without lines.
std::string stream_entries(std::string_view output);

}  // namespace trelvik
