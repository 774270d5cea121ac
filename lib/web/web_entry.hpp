// The web server's entry to the actions: one CGI run per request of the
// operator page. It takes the request apart strictly (lib/parse/web_query),
// adds the device facts from the package's configuration, runs the action
// program that sits beside it with an argv (never through a shell) and the
// device API password on its standard input, and passes the action's reply
// through unchanged. Session archives are served by name from this device's
// application folders only.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace trelvik {

// One request as the web server hands it over in the CGI environment; a
// missing variable is null.
struct CgiRequest {
  const char* method;          // REQUEST_METHOD
  const char* query;           // QUERY_STRING
  const char* requested_with;  // HTTP_X_REQUESTED_WITH, the page's own header
};

// The header value the operator page sends with every change. A form or a
// script on another site cannot send it without the camera's consent, so a
// change can only come from the page itself.
inline constexpr std::string_view kWebRequestedWith = "trelvik";

// Answers one request. Writes exactly one CGI reply to `out`; returns the
// exit status (0 for every answered request).
int web_entry_run(const CgiRequest& cgi, FILE* out = stdout);

}  // namespace trelvik
