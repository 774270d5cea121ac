// Client of the device HTTP API (served on the device-local web server), run
// through the device's curl with basic authentication.
#pragma once

#include <string>

#include "lib/pipe.hpp"

namespace trelvik {

// The curl command line that reads `path` (beginning with "/", query
// included). Credentials are escaped for their double quotes.
std::string nemor_get_command(const char* nemor_user, const char* nemor_pass, const char* path);

// A read pipe on the response body; not open when curl could not be started
// (logged). An HTTP error page still arrives as the body: callers judge it.
ReadPipe nemor_get(const char* nemor_user, const char* nemor_pass, const char* path);

// Saves the response body of `path` to `dest`; true when curl exited with 0.
bool nemor_download(const char* nemor_user, const char* nemor_pass, const char* path, const char* dest);

}  // namespace trelvik
