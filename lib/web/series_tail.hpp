// The operator page's live view of a running session: the last hour of its
// load, available memory, temperature and network series, the time of its
// last sample and the camera's clock with its zone, as one small JSON reply.
// Read only, and only the end of each file, so that it stays fast on a
// session of weeks.
#pragma once

#include <cstdio>
#include <string>

namespace trelvik {

// The reply body for the session folder `session` (empty: no session runs).
std::string series_tail_json(const std::string& session);
// Writes the whole CGI reply for the session the state file names.
void reply_series_tail(FILE* out);

}  // namespace trelvik
