// The output of the package's collect_monitoring_sessions.sh: one block of
// "PATH:", "Start: ", "End: ", "SIZE:" and "ZIPSIZE:" lines per earlier
// session, each block closed by "=== SESSION END ===".
#pragma once

#include <string>
#include <string_view>

namespace trelvik {

// One block of the collector's output; a field missing from the block stays
// empty.
struct CollectedSession {
  std::string path;
  std::string start_time;
  std::string end_time;
  std::string size;
  std::string size_zip;
};

// Applies one collector line (its line feed may still be on it) to `fields`.
// True when the line ends the block: the caller prints `fields` and empties
// them.
bool status_apply_collector_line(CollectedSession& fields, std::string_view line);
}  // namespace trelvik
