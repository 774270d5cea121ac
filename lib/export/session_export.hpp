// A whole session as OpenMetrics text for a time-series engine: every series
// of the naming table (lib/parse/export_rows) with the session's serial
// number and name, each family in one block, each series in time order with
// repeated samples of one time dropped and counted, "# EOF" last. The rows'
// local times are placed in UTC by the session's recorded time zone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "lib/export/export_output.hpp"
#include "lib/export/session_source.hpp"

namespace trelvik {

struct ExportOptions {
  std::string zone;  // --tz: overrides the session's own zone when not empty
  std::int64_t now;  // the clock of the refusal of rows dated ahead
};

struct ExportCounts {
  std::size_t series = 0;
  std::size_t samples = 0;
  std::size_t duplicates = 0;  // samples dropped as repeats of the same time and value
  std::size_t skipped_rows = 0;
};

// Reads `source` whole, then writes it to `out` (not finished: the caller
// finishes it). False with `refusal` (one line) when the session is refused:
// a row dated before 2000 or more than a day ahead of `now`, a local time
// that a daylight-saving change makes ambiguous or skips, two different
// values of one series at one time, an unknown zone, a file that cannot be
// read whole. Nothing is written then. Unreadable rows are skipped with one
// warning line per file.
bool export_session(SessionSource& source, const ExportOptions& options, ExportOutput& out, ExportCounts& counts,
                    std::string& refusal);

}  // namespace trelvik
