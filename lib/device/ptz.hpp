// PTZ preset movement tracker: the body of the daemon's second thread. It
// reads the preset names once through "gdbus call" and then logs every
// movement that "gdbus monitor" reports on PTZ channel 1.
#pragma once

#include <glib.h>

#include <optional>
#include <string>
#include <string_view>

#include "lib/base/pipe.hpp"
#include "lib/parse/ptz_replies.hpp"

namespace trelvik {

// The log text for a monitor line, or empty when the line moves no known
// preset (status 0 or other, preset 0, a preset without a name).
std::optional<std::string> preset_movement_text(const PresetNameTable& table, std::string_view line);

// Reads the call's whole output from `reply` and parses it.
std::optional<PresetNameTable> ptz_read_preset_names(ReadPipe& reply);
// Logs every movement read from `monitor` until its output ends.
void ptz_track_movements(const PresetNameTable& table, ReadPipe& monitor);

// Thread body: logs every movement to and arrival at a preset until the
// device's signal monitor ends. Returns null. A command that cannot be
// started is fatal.
gpointer ptz_loop(gpointer unused);

}  // namespace trelvik
