// PTZ preset movement tracker: the body of the daemon's second thread. It
// reads the preset names once through "gdbus call" and then logs every
// movement that "gdbus monitor" reports on PTZ channel 1.
#pragma once

#include <glib.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lib/pipe.hpp"

namespace trelvik {

// Preset names in reply order: names[i] is the name of preset number i + 1.
// Only names the reply really carried are held, never more than `length`, so
// a preset outside `names` has no name to log.
struct PresetNameTable {
  std::size_t length = 0;  // the number of presets the reply announced
  std::vector<std::string> names;
};

// A preset movement as the monitor reports it: status 1 = reached,
// 2 = moving, anything else is not a movement.
struct PresetStatus {
  int status = 0;
  long preset = 0;
};

// The table from the whole output of the GetPresets call; empty when the
// output has no preset count (old firmware, missing service, no presets).
// Names are cut at 255 bytes.
std::optional<PresetNameTable> parse_preset_reply(std::string_view reply);

// Status and preset number of a "PresetStatus" PropertiesChanged line from
// the monitor; empty for any other line or one without a preset number.
std::optional<PresetStatus> parse_preset_status(std::string_view line);

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
