// Client of the device HTTP API (served on the device-local web server), run
// through the device's curl with basic authentication. curl is started
// without a shell and gets the credentials on its standard input as a
// configuration, so that the password stands in no process's argv or
// environment; it is given connect and total time limits, so that a hung API
// ends in curl's own failure.
#pragma once

#include <string>
#include <string_view>

#include "lib/base/pipe.hpp"

namespace trelvik {

// The command line that reads `path` (beginning with "/", query included) as
// it is logged: the one of a shell with the credentials in "-u", which
// sysutil_redact masks. It is never run.
std::string nemor_get_command(const char* nemor_user, const char* nemor_pass, const char* path);

// The curl configuration line that carries the credentials: `user = "…"`
// with curl's escapes for backslash, double quote and control characters.
std::string nemor_credentials_config(std::string_view nemor_user, std::string_view nemor_pass);

// A read pipe on the response body; not open when curl could not be started
// (logged). An HTTP error page still arrives as the body: callers judge it.
ReadPipe nemor_get(const char* nemor_user, const char* nemor_pass, const char* path);

// Saves the response body of `path` to `dest`; true when curl exited with 0.
bool nemor_download(const char* nemor_user, const char* nemor_pass, const char* path, const char* dest);

}  // namespace trelvik
