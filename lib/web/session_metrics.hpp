// The running session's latest round as OpenMetrics text, for a scrape by
// vmagent or Prometheus (the web entry's action=metrics): the same names and
// labels as the export (lib/parse/export_rows), stamped with the rows' own
// times, plus whether a session runs and its data-point count. Only the
// first line and the last bytes of each file are read, so a week-old session
// answers as fast as a new one.
#pragma once

#include <cstdio>
#include <string>

namespace trelvik {

// The reply body for the running session in `session_path` (its folder's
// name is the session label; the serial number is its information file's,
// or `device_serial` when that cannot be read).
std::string session_metrics_text(const std::string& session_path, const std::string& device_serial);

// The whole CGI reply: the running session's metrics, or only
// trelvik_session_active 0 (labelled with `serial`) when none runs.
void reply_session_metrics(FILE* out, const std::string& serial);

}  // namespace trelvik
