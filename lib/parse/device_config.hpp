// The package's device configuration: the device facts that the actions take
// on their command line, written by the package's installation on the device
// (and by the emulated camera), one "key=value" line each.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace trelvik {

struct DeviceFacts {
  std::string serial_number;
  std::string model_name;
  std::string firmware_version;
  std::string full_name;
  std::string api_user;
};

// The facts from the file's text: "#" lines and blank lines are skipped,
// unknown keys ignored, a key given twice keeps its last value, a "\r" before
// the line feed dropped. Nothing when serial_number, model_name,
// firmware_version or api_user is missing or empty, or when a value holds a
// control character or the serial number a "/" (it names a folder).
std::optional<DeviceFacts> parse_device_config(std::string_view text);

}  // namespace trelvik
