// The session viewer's files, built into the report command from the
// package's html/ folder and the pinned npm libraries, so that the command
// needs nothing beside itself on a workstation.
#pragma once

#include <optional>
#include <string_view>

namespace trelvik {

// The text of a viewer file named relative to viewer.html ("viewer.html",
// "viewer/csv.js", "vendor/fflate.js"), or nullopt when it is not built in.
std::optional<std::string_view> viewer_asset(std::string_view relative);

}  // namespace trelvik
