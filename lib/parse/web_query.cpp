#include "lib/parse/web_query.hpp"

#include <array>
#include <cctype>

#include "lib/names/session_layout.hpp"
#include "lib/parse/text.hpp"
#include "lib/parse/validation.hpp"

namespace trelvik {

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool has_control_character(std::string_view text) {
  for (const unsigned char c : text) {
    if (c < 0x20 || c == 0x7f) return true;
  }
  return false;
}

bool is_two_digits(std::string_view text, int limit) {
  if (text.size() != 2 || !is_digit(text[0]) || !is_digit(text[1])) return false;
  return (text[0] - '0') * 10 + (text[1] - '0') < limit;
}

// The disk id of an edge storage is also a folder name under the storage
// root, so it may hold no "/" and may not begin with ".".
bool is_storage_id(std::string_view text) {
  if (text.empty() || text.size() > 64 || text.front() == '.') return false;
  for (const unsigned char c : text) {
    if (!std::isalnum(c) && c != '_' && c != '-' && c != '.') return false;
  }
  return true;
}

// Clock times as the daemon compares them: "HH:MM" items joined by commas.
// The empty text removes the setting.
bool is_given_times(std::string_view text) {
  if (text.size() > 99) return false;
  while (!text.empty()) {
    const std::string_view item = text.substr(0, text.find(','));
    if (item.size() != 5 || item[2] != ':' || !is_two_digits(item.substr(0, 2), 24) ||
        !is_two_digits(item.substr(3, 2), 60)) {
      return false;
    }
    text.remove_prefix(item.size());
    if (!text.empty()) {
      text.remove_prefix(1);
      if (text.empty()) return false;  // a trailing comma
    }
  }
  return true;
}

// A session folder name, "%Y%m%d_%H_%M_%S", with or without ".zip".
bool is_session_name(std::string_view text) {
  if (text.size() != 17) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool separator = i == 8 || i == 11 || i == 14;
    if (separator ? text[i] != '_' : !is_digit(text[i])) return false;
  }
  return true;
}

bool is_begin_storage(std::string& value) { return value == "localdata" || is_storage_id(value); }

// The action itself refuses an interval under 3 minutes with its own text.
bool is_interval_minutes(std::string& value) { return value.size() <= 20 && validate_digits(value.c_str()); }

bool is_clock_times(std::string& value) { return is_given_times(value); }

bool is_archive_name(std::string& value) {
  if (value.ends_with(session_layout::kArchiveSuffix)) {
    value.resize(value.size() - std::string_view(session_layout::kArchiveSuffix).size());
  }
  return is_session_name(value);
}

using Arg = WebArgument;

// The actions, one row each. The programs lie beside the entry program; a
// program that is given the password reads it from its standard input, so it
// stands on no command line.
constexpr std::array<WebActionRule, 11> kActions{{
    {"status", "", nullptr, WebReply::program, "status_report", {Arg::serial_number}, false, false},
    {"storages", "", nullptr, WebReply::program, "storage_list", {Arg::serial_number}, false, false},
    {"information", "", nullptr, WebReply::information_file, "", {}, false, false},
    {"tail", "", nullptr, WebReply::series_tail, "", {}, false, false},
    {"download", "name", is_archive_name, WebReply::session_archive, "", {}, false, false},
    {"metrics", "", nullptr, WebReply::session_metrics, "", {}, false, false},
    {"begin",
     "storage",
     is_begin_storage,
     WebReply::program,
     "begin_monitor_session",
     {Arg::value, Arg::serial_number, Arg::model_name, Arg::firmware_version, Arg::api_user},
     true,
     true},
    {"end", "", nullptr, WebReply::program, "end_monitor_session", {Arg::api_user}, true, true},
    {"ptz_interval",
     "minutes",
     is_interval_minutes,
     WebReply::program,
     "ptz_autotest_interval",
     {Arg::value},
     true,
     false},
    {"ptz_times", "times", is_clock_times, WebReply::program, "ptz_autotest_times", {Arg::value}, true, false},
    {"ptz_stop", "", nullptr, WebReply::program, "ptz_autotest_stop", {}, true, false},
}};

// The parameters a query may carry: "action", then each action's own, in
// the order the table first names them (a query with several that its
// action does not take is refused for the first in this order).
struct ParameterNames {
  std::array<std::string_view, kActions.size() + 1> names{};
  std::size_t size = 0;
};

constexpr ParameterNames known_parameters() {
  ParameterNames known;
  known.names.at(known.size++) = "action";
  for (const WebActionRule& rule : kActions) {
    bool seen = rule.parameter.empty();
    for (std::size_t i = 0; i < known.size; ++i) seen = seen || known.names.at(i) == rule.parameter;
    if (!seen) known.names.at(known.size++) = rule.parameter;
  }
  return known;
}

constexpr ParameterNames kParameters = known_parameters();

const WebActionRule* find_action(std::string_view name) {
  for (const WebActionRule& rule : kActions) {
    if (rule.name == name) return &rule;
  }
  return nullptr;
}

bool is_known_parameter(std::string_view name) {
  for (std::size_t i = 0; i < kParameters.size; ++i) {
    if (kParameters.names.at(i) == name) return true;
  }
  return false;
}

}  // namespace

std::optional<std::string> percent_decode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] != '%') {
      out += text[i];
    } else {
      if (i + 2 >= text.size()) return std::nullopt;
      const int high = hex_value(text[i + 1]);
      const int low = hex_value(text[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      out += static_cast<char>(high * 16 + low);
      i += 2;
    }
  }
  return out;
}

std::span<const WebActionRule> web_actions() { return kActions; }

std::optional<WebRequest> parse_web_query(std::string_view query, std::string& error) {
  if (query.size() > kWebQueryMax) {
    error = "Error: The request is too long.";
    return std::nullopt;
  }
  std::array<std::optional<std::string>, kParameters.names.size()> values;
  while (!query.empty()) {
    const std::string_view pair = query.substr(0, query.find('&'));
    query.remove_prefix(pair.size() < query.size() ? pair.size() + 1 : pair.size());
    if (pair.empty()) continue;
    const std::size_t equals = pair.find('=');
    const std::string_view name = pair.substr(0, equals);
    if (!is_known_parameter(name)) {
      error = "Error: Unknown parameter.";
      return std::nullopt;
    }
    std::optional<std::string> value =
        percent_decode(equals == std::string_view::npos ? std::string_view{} : pair.substr(equals + 1));
    if (!value || has_control_character(*value)) {
      error = "Error: Malformed value of parameter " + std::string(name) + ".";
      return std::nullopt;
    }
    std::size_t slot = 0;
    while (kParameters.names.at(slot) != name) ++slot;
    if (values[slot]) {
      error = "Error: Repeated parameter " + std::string(name) + ".";
      return std::nullopt;
    }
    values[slot] = std::move(value);
  }
  const WebActionRule* rule = values[0] ? find_action(*values[0]) : nullptr;
  if (rule == nullptr) {
    error = "Error: Unknown action.";
    return std::nullopt;
  }
  WebRequest request{rule, {}};
  for (std::size_t slot = 1; slot < kParameters.size; ++slot) {
    if (!values[slot]) continue;
    if (kParameters.names.at(slot) != rule->parameter) {
      error = "Error: The action takes no parameter " + std::string(kParameters.names.at(slot)) + ".";
      return std::nullopt;
    }
    request.value = std::move(*values[slot]);
    if (rule->accepts == nullptr || !rule->accepts(request.value)) {
      error = "Error: Invalid value of parameter " + std::string(rule->parameter) + ".";
      return std::nullopt;
    }
    return request;
  }
  if (!rule->parameter.empty()) {
    error = "Error: Missing parameter " + std::string(rule->parameter) + ".";
    return std::nullopt;
  }
  return request;
}

}  // namespace trelvik
