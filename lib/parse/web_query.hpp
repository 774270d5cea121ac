// The operator page's requests as the entry program reads them from the CGI
// query string: a whitelist of actions, each with its fixed parameter, values
// percent-decoded exactly once and checked before any program sees them.
//
// The actions stand in one table (web_actions()), one row each: the parser,
// the POST-only check and the entry program's dispatcher all read it, so an
// action that runs a program is added by adding its row.
#pragma once

#include <array>
#include <cstddef>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace trelvik {

// What the entry program puts on an action program's command line, in order.
enum class WebArgument {
  value,          // the action's parameter, decoded and checked
  serial_number,  // the device facts of the package's configuration
  model_name,
  firmware_version,
  api_user,
};

// Who answers an action: a program beside the entry program, or the entry
// program itself from a session's files.
enum class WebReply {
  program,
  information_file,  // the running session's information file
  series_tail,       // the last hour of the running session's live series and the camera's clock
  session_archive,   // the archive of the session named by the parameter
  session_metrics,   // the running session's latest round as OpenMetrics text
};

// An action program's command line after its own path.
struct WebArgv {
  std::array<WebArgument, 5> items{};
  std::size_t size = 0;

  constexpr WebArgv() = default;
  constexpr WebArgv(std::initializer_list<WebArgument> arguments) {
    for (const WebArgument argument : arguments) items.at(size++) = argument;
  }
  constexpr const WebArgument* begin() const { return items.data(); }
  constexpr const WebArgument* end() const { return items.data() + size; }
};

struct WebActionRule {
  std::string_view name;       // the value of "action="
  std::string_view parameter;  // the one parameter the action takes; empty: none
  // True when the decoded value may be handed on; may put it in its one
  // spelling (a session name loses its ".zip"). Null when there is no parameter.
  bool (*accepts)(std::string& value);
  WebReply reply;
  std::string_view program;  // the action program, when `reply` is WebReply::program
  WebArgv argv;
  bool changes_state;      // taken by POST with the page's header only
  bool password_on_stdin;  // the device API password is the program's standard input
};

// Every action, in the order of the README's table.
std::span<const WebActionRule> web_actions();

struct WebRequest {
  const WebActionRule* action = nullptr;  // a row of web_actions()
  std::string value;                      // the decoded value of the action's one parameter, if it has one
};

// The longest query string taken at all; the page's requests stay far below.
inline constexpr std::size_t kWebQueryMax = 1024;

// The request, or nothing with `error` set to the reply text for the
// operator: unknown or repeated parameters, a parameter the action does not
// take, a bad percent escape, a control character (NUL and line feeds
// included) or a value its check refuses.
std::optional<WebRequest> parse_web_query(std::string_view query, std::string& error);
// `text` with every %XX replaced by its byte and "+" by a blank; nothing for
// a "%" not followed by two hexadecimal digits.
std::optional<std::string> percent_decode(std::string_view text);

}  // namespace trelvik
