#include "lib/parse/validation.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cctype>
#include <cstring>

#include "lib/parse/text.hpp"

namespace trelvik {
namespace {

// DNS limits a whole name to 255 bytes.
constexpr std::size_t kMaxHostnameLength = 255;

bool is_hostname_char(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return std::isalnum(byte) != 0 || c == '-' || c == '.';
}

}  // namespace

bool validate_ipv4(const char* string) {
  in_addr address{};
  return string != nullptr && inet_pton(AF_INET, string, &address) == 1;
}

bool validate_ipv6(const char* string) {
  in6_addr address{};
  return string != nullptr && inet_pton(AF_INET6, string, &address) == 1;
}

bool validate_hostname(const char* string) {
  if (string == nullptr) return false;
  const std::size_t length = std::strlen(string);
  if (length > kMaxHostnameLength) return false;
  if (string[0] == '-' || string[0] == '.') return false;
  if (length == 0) return true;
  if (length >= 2 && string[length - 1] == '-') return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (!is_hostname_char(string[i])) return false;
  }
  return true;
}

bool validate_address(const char* string) {
  if (string == nullptr) return false;
  return validate_ipv4(string) || validate_ipv6(string) || validate_hostname(string);
}

bool validate_digits(const char* string) {
  if (string == nullptr) return false;
  for (const char* p = string; *p != '\0'; ++p) {
    if (!is_digit(*p)) return false;
  }
  return true;
}

}  // namespace trelvik
