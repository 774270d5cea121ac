#include "lib/parse/web_query.hpp"

#include <array>
#include <cctype>

#include "lib/parse/text.hpp"
#include "lib/names/session_layout.hpp"
#include "lib/parse/validation.hpp"

namespace trelvik {

namespace {

struct ActionRule {
  std::string_view name;
  WebAction action;
  std::string_view parameter;  // empty: the action takes none
};

constexpr std::array<ActionRule, 11> kActions{{
    {"status", WebAction::status, ""},
    {"storages", WebAction::storages, ""},
    {"information", WebAction::information, ""},
    {"download", WebAction::download, "name"},
    {"metrics", WebAction::metrics, ""},
    {"begin", WebAction::begin, "storage"},
    {"end", WebAction::end, ""},
    {"ptz_interval", WebAction::ptz_interval, "minutes"},
    {"ptz_times", WebAction::ptz_times, "times"},
    {"ptz_stop", WebAction::ptz_stop, ""},
    {"tail", WebAction::tail, ""},
}};

constexpr std::array<std::string_view, 5> kParameters{"action", "name", "storage", "minutes", "times"};

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

bool value_is_valid(WebAction action, std::string& value) {
  switch (action) {
    case WebAction::begin:
      return value == "localdata" || is_storage_id(value);
    case WebAction::ptz_interval:
      // The action itself refuses an interval under 3 minutes with its own text.
      return value.size() <= 20 && validate_digits(value.c_str());
    case WebAction::ptz_times:
      return is_given_times(value);
    case WebAction::download:
      if (value.ends_with(session_layout::kArchiveSuffix)) {
        value.resize(value.size() - std::string_view(session_layout::kArchiveSuffix).size());
      }
      return is_session_name(value);
    default:
      return false;
  }
}

const ActionRule* find_action(std::string_view name) {
  for (const ActionRule& rule : kActions) {
    if (rule.name == name) return &rule;
  }
  return nullptr;
}

bool is_known_parameter(std::string_view name) {
  for (const std::string_view known : kParameters) {
    if (known == name) return true;
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

bool web_action_changes_state(WebAction action) {
  switch (action) {
    case WebAction::begin:
    case WebAction::end:
    case WebAction::ptz_interval:
    case WebAction::ptz_times:
    case WebAction::ptz_stop:
      return true;
    default:
      return false;
  }
}

std::optional<WebRequest> parse_web_query(std::string_view query, std::string& error) {
  if (query.size() > kWebQueryMax) {
    error = "Error: The request is too long.";
    return std::nullopt;
  }
  std::array<std::optional<std::string>, kParameters.size()> values;
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
    while (kParameters[slot] != name) ++slot;
    if (values[slot]) {
      error = "Error: Repeated parameter " + std::string(name) + ".";
      return std::nullopt;
    }
    values[slot] = std::move(value);
  }
  const ActionRule* rule = values[0] ? find_action(*values[0]) : nullptr;
  if (rule == nullptr) {
    error = "Error: Unknown action.";
    return std::nullopt;
  }
  WebRequest request{rule->action, {}};
  for (std::size_t slot = 1; slot < kParameters.size(); ++slot) {
    if (!values[slot]) continue;
    if (kParameters[slot] != rule->parameter) {
      error = "Error: The action takes no parameter " + std::string(kParameters[slot]) + ".";
      return std::nullopt;
    }
    request.value = std::move(*values[slot]);
    if (!value_is_valid(rule->action, request.value)) {
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
