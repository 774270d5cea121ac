#include "lib/base/shell_quote.hpp"

#include <cstring>

#include "lib/parse/text.hpp"

namespace trelvik {

std::string shell_escape_double(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (const char c : value) {
    if (c == '\\' || c == '"' || c == '$' || c == '`') out += '\\';
    out += c;
  }
  return out;
}

std::string shell_escape_single(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (const char c : value) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out;
}

namespace {
bool is_plain(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || is_digit(c)) return true;
  return c != '\0' && std::strchr("_@%+=:,./-", c) != nullptr;
}
}  // namespace

std::string shell_word(std::string_view value) {
  bool plain = !value.empty();
  for (const char c : value) plain = plain && is_plain(c);
  if (plain) return std::string(value);
  return "'" + shell_escape_single(value) + "'";
}

}  // namespace trelvik
