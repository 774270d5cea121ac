// The operator page's requests as the entry program reads them from the CGI
// query string: a whitelist of actions, each with its fixed parameter, values
// percent-decoded exactly once and checked before any program sees them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace trelvik {

enum class WebAction {
  status,        // GET: status_report
  storages,      // GET: storage_list
  information,   // GET: the active session's information file
  download,      // GET name=<session folder name>[.zip]: the session's archive
  metrics,       // GET: the running session's latest round as OpenMetrics text
  begin,         // POST storage=<"localdata" or disk id>: begin_monitor_session
  end,           // POST: end_monitor_session
  ptz_interval,  // POST minutes=<digits>: ptz_autotest_interval
  ptz_times,     // POST times=<HH:MM[,HH:MM...]> or empty: ptz_autotest_times
  ptz_stop,      // POST: ptz_autotest_stop
};

struct WebRequest {
  WebAction action = WebAction::status;
  std::string value;  // the decoded value of the action's one parameter, if it has one
};

// The longest query string taken at all; the page's requests stay far below.
inline constexpr std::size_t kWebQueryMax = 1024;

// The request, or nothing with `error` set to the reply text for the
// operator: unknown or repeated parameters, a parameter the action does not
// take, a bad percent escape, a control character (NUL and line feeds
// included) or a value its check refuses.
std::optional<WebRequest> parse_web_query(std::string_view query, std::string& error);
// True for actions that change the device; those are taken by POST only.
bool web_action_changes_state(WebAction action);
// `text` with every %XX replaced by its byte and "+" by a blank; nothing for
// a "%" not followed by two hexadecimal digits.
std::optional<std::string> percent_decode(std::string_view text);

}  // namespace trelvik
