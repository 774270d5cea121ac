#include "lib/validation.hpp"

#include <gtest/gtest.h>

#include <string>

namespace trelvik {
namespace {

TEST(Validation, Digits) {
  struct Case {
    const char* text;
    bool valid;
  } cases[] = {
      {"", true}, {"007", true}, {"3", true}, {"18446744073709551616", true},
      {"12 ", false}, {"+5", false}, {"-5", false}, {"12a", false}, {" 1", false}, {"1 2", false},
      {"\xd9\xa3", false},  // an Arabic-Indic digit is not 0 to 9
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(validate_digits(c.text), c.valid);
  }
  EXPECT_FALSE(validate_digits(nullptr));
}

TEST(Validation, Hostname) {
  const std::string longest(255, 'a');
  const std::string too_long(256, 'a');
  struct Case {
    const char* text;
    bool valid;
  } cases[] = {
      {"a", true}, {"a.", true}, {"", true}, {"camera-01.example.com", true}, {"1host", true},
      {longest.c_str(), true},
      {too_long.c_str(), false}, {"-a", false}, {".a", false}, {"a-", false}, {"-", false}, {".", false},
      {"a_b", false}, {"a b", false}, {"a;id", false}, {"$(id)", false}, {"caf\xc3\xa9", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(validate_hostname(c.text), c.valid);
  }
  EXPECT_FALSE(validate_hostname(nullptr));
}

TEST(Validation, Addresses) {
  const std::string long_name(256, 'a');
  struct Case {
    const char* text;
    bool ipv4;
    bool ipv6;
    bool address;
  } cases[] = {
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
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(validate_ipv4(c.text), c.ipv4);
    EXPECT_EQ(validate_ipv6(c.text), c.ipv6);
    EXPECT_EQ(validate_address(c.text), c.address);
  }
  EXPECT_FALSE(validate_ipv4(nullptr));
  EXPECT_FALSE(validate_ipv6(nullptr));
  EXPECT_FALSE(validate_address(nullptr));
}

}  // namespace
}  // namespace trelvik
