#include "lib/parse/validation.hpp"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace trelvik {
namespace {

TEST(Validation, DigitsAndHostnames) {
  const std::pair<const char*, bool> digits[] = {
      {"", true},     {"007", true},  {"3", true},         {"18446744073709551616", true},
      {"12 ", false}, {"+5", false},  {"-5", false},       {"12a", false},
      {" 1", false},  {"1 2", false}, {"\xd9\xa3", false},  // an Arabic-Indic digit is not 0 to 9
  };
  for (const auto& [text, valid] : digits) EXPECT_EQ(validate_digits(text), valid) << text;

  const std::string longest(255, 'a'), too_long(256, 'a');
  const std::pair<const char*, bool> hosts[] = {
      {"a", true},
      {"a.", true},
      {"", true},
      {"camera-01.example.com", true},
      {"1host", true},
      {longest.c_str(), true},
      {too_long.c_str(), false},
      {"-a", false},
      {".a", false},
      {"a-", false},
      {"-", false},
      {".", false},
      {"a_b", false},
      {"a b", false},
      {"a;id", false},
      {"$(id)", false},
      {"caf\xc3\xa9", false},
  };
  for (const auto& [text, valid] : hosts) EXPECT_EQ(validate_hostname(text), valid) << text;
  EXPECT_FALSE(validate_digits(nullptr) || validate_hostname(nullptr));
}

TEST(Validation, Addresses) {
  const std::string long_name(256, 'a');
  const std::tuple<const char*, bool, bool, bool> cases[] = {
      // text, IPv4, IPv6, address
      {"192.168.0.90", true, false, true},
      {"255.255.255.255", true, false, true},
      {"256.1.1.1", false, false, true},  // not an address, but a fine host name
      {"::1", false, true, true},
      {"fe80::1:2", false, true, true},
      {"::ffff:192.168.0.1", false, true, true},
      {"1.2.3", false, false, true},
      {"192.168.0.90 ", false, false, false},
      {"fe80::1%eth0", false, false, false},
      {long_name.c_str(), false, false, false},
      {"", false, false, true},
  };
  for (const auto& [text, ipv4, ipv6, address] : cases) {
    EXPECT_EQ(validate_ipv4(text), ipv4) << text;
    EXPECT_EQ(validate_ipv6(text), ipv6) << text;
    EXPECT_EQ(validate_address(text), address) << text;
  }
  EXPECT_FALSE(validate_ipv4(nullptr) || validate_ipv6(nullptr) || validate_address(nullptr));
}

}  // namespace
}  // namespace trelvik
