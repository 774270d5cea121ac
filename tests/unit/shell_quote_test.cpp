#include "lib/base/shell_quote.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "lib/base/pipe.hpp"

namespace trelvik {
namespace {

TEST(ShellQuote, OrdinaryValuesStayAsTheyAreHostileOnesArriveIntact) {
  EXPECT_EQ(shell_escape_double("/var/spool/storage/SD_DISK/Trelvik_ACCC/20261208_05_20_00"),
            "/var/spool/storage/SD_DISK/Trelvik_ACCC/20261208_05_20_00");
  EXPECT_EQ(shell_escape_single("ACCC8E123456"), "ACCC8E123456");
  EXPECT_EQ(shell_word("/usr/bin/curl"), "/usr/bin/curl");
  EXPECT_EQ(shell_word("a b"), "'a b'");
  EXPECT_EQ(shell_word(""), "''");

  for (const std::string value : {"Pa$$w0rd", "a\"b", "it's", "back\\slash", "$(touch trelvik-pwned)", "`id`", "a\nb",
                                  "", " lead", "semi;colon", "*", "~root"}) {
    for (const std::string& command :
         {"printf '%s' \"" + shell_escape_double(value) + "\"", "printf '%s' '" + shell_escape_single(value) + "'",
          "printf '%s' " + shell_word(value)}) {
      ReadPipe pipe(command);
      std::string all, line;
      while (pipe.read_line(line)) all += line;
      pipe.close();
      EXPECT_EQ(all, value) << command;
    }
  }
  EXPECT_NE(access("trelvik-pwned", F_OK), 0);  // in this test's own working folder
}

// A command that escaped its quoting leaves its files in the working folder:
// that folder is the test's own, empty at its start and gone after it.
TEST(ShellQuote, EachTestWorksInAnEmptyFolderOfItsOwn) {
  namespace fs = std::filesystem;
  EXPECT_TRUE(fs::is_empty(fs::current_path()));
  EXPECT_EQ(fs::current_path().parent_path(), fs::temp_directory_path());
  std::ofstream("left-over") << "x";
}

}  // namespace
}  // namespace trelvik
