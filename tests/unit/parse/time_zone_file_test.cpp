#include "lib/parse/time_zone_file.hpp"

#include <gtest/gtest.h>

namespace trelvik {
namespace {

TEST(TimeZoneFile, TwoLinesExactly) {
  const SessionTimeZone zone{"America/St_Johns", -150};
  EXPECT_EQ(format_time_zone_file(zone), "Zone: America/St_Johns\nUTC offset: -0230\n");
  const auto read = parse_time_zone_file("Zone: America/St_Johns\r\nUTC offset: -0230\r\n");
  ASSERT_TRUE(read);
  EXPECT_EQ(read->zone, "America/St_Johns");
  EXPECT_EQ(read->offset_minutes, -150);
  EXPECT_EQ(format_time_zone_file({"Etc/GMT-14", 840}), "Zone: Etc/GMT-14\nUTC offset: +1400\n");
  for (const char* text :
       {"Zone: UTC\n", "Zone: UTC\nUTC offset: +0000", "Zone: UTC\nUTC offset: +0000\nmore\n",
        "UTC offset: +0000\nZone: UTC\n", "Zone: ../etc/passwd\nUTC offset: +0000\n",
        "Zone: Europe//Paris\nUTC offset: +0100\n", "Zone: UTC\nUTC offset: +1500\n", "Zone: UTC\nUTC offset: 0100\n",
        "Zone: UTC\nUTC offset: +0160\n", "Zone: \nUTC offset: +0000\n"}) {
    EXPECT_FALSE(parse_time_zone_file(text)) << text;
  }
}

TEST(TimeZoneFile, ZoneNames) {
  for (const char* name : {"UTC", "Europe/Stockholm", "America/Argentina/Buenos_Aires", "Etc/GMT+5"}) {
    EXPECT_TRUE(is_iana_zone_name(name)) << name;
  }
  for (const char* name : {"", "/etc/localtime", "Europe/", "..", "Europe/../x", "a b", "-x", "CET-1CEST,M3.5.0"}) {
    EXPECT_FALSE(is_iana_zone_name(name)) << name;
  }
}

}  // namespace
}  // namespace trelvik
