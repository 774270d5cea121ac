#include "lib/parse/streams.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace trelvik {
namespace {

TEST(StreamList, OneEntryPerLine) {
  const std::string long_value(250, 'v');
  const std::pair<std::string, std::string> streams[] = {
      {"", "No streams "},
      {"      string \"abc\"\n      string \"def\"\n", " abc + def "},
      {"      string \"\"\n", "  "},
      {"      string\n", ""},  // ends where the value should begin
      {"      string \n", ""},
      {"no marker\n", "no marker"},
      {"Error org.freedesktop.DBus.Error: string x\n", "Error: Failed to get stream info+x"},
      // However long a line is, it is one entry: 250 characters of value,
      // lines of 198 to 201 characters around the old read size, two long
      // lines, and a long last line without its line feed.
      {"      string \"" + long_value + "\"\n", " " + long_value + " "},
      {"string \"" + long_value.substr(0, 189) + "\"\n", " " + long_value.substr(0, 189) + " "},
      {"string \"" + long_value.substr(0, 190) + "\"\n", " " + long_value.substr(0, 190) + " "},
      {"string \"" + long_value.substr(0, 191) + "\"\n", " " + long_value.substr(0, 191) + " "},
      {"string \"" + long_value.substr(0, 192) + "\"\n", " " + long_value.substr(0, 192) + " "},
      {"string \"" + long_value + "\"\nstring \"" + long_value + "\"\n", " " + long_value + " + " + long_value + " "},
      {"string \"" + long_value + "\"", " " + long_value + " "},
  };
  for (const auto& [output, cell] : streams) EXPECT_EQ(stream_entries(output), cell) << output.size();
}

}  // namespace
}  // namespace trelvik
