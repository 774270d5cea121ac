// The PTZ service's replies through gdbus: the GetPresets call's preset
// names and the monitor's PresetStatus lines.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

}  // namespace trelvik
