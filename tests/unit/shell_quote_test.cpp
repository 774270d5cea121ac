#include "lib/shell_quote.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "lib/pipe.hpp"

namespace trelvik {
namespace {

// What the shell makes of `command`: its standard output.
std::string shell_output(const std::string& command) {
  ReadPipe pipe(command);
  std::string all, line;
  while (pipe.read_line(line)) all += line;
  pipe.close();
  return all;
}

const char* const kHostile[] = {
    "Pa$$w0rd", "a\"b", "it's", "back\\slash", "$(touch /tmp/trelvik-pwned)", "`id`", "a\nb", "", " lead",
    "semi;colon", "*", "~root",
};

TEST(ShellQuote, OrdinaryValuesStayAsTheyAre) {
  EXPECT_EQ(shell_escape_double("/var/spool/storage/SD_DISK/Trelvik_ACCC/20261208_05_20_00"),
            "/var/spool/storage/SD_DISK/Trelvik_ACCC/20261208_05_20_00");
  EXPECT_EQ(shell_escape_single("ACCC8E123456"), "ACCC8E123456");
  EXPECT_EQ(shell_word("/usr/bin/curl"), "/usr/bin/curl");
  EXPECT_EQ(shell_word("a b"), "'a b'");
  EXPECT_EQ(shell_word(""), "''");
}

TEST(ShellQuote, EveryHostileValueArrivesIntact) {
  for (const std::string value : kHostile) {
    SCOPED_TRACE(value);
    EXPECT_EQ(shell_output("printf '%s' \"" + shell_escape_double(value) + "\""), value);
    EXPECT_EQ(shell_output("printf '%s' '" + shell_escape_single(value) + "'"), value);
    EXPECT_EQ(shell_output("printf '%s' " + shell_word(value)), value);
  }
  EXPECT_NE(access("/tmp/trelvik-pwned", F_OK), 0);
}

}  // namespace
}  // namespace trelvik
