#include "lib/parse/text.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace trelvik {
namespace {

using Lines = std::vector<std::string_view>;

TEST(Text, LinesWholeOrInPieces) {
  const std::string long_line(300, 'x');
  EXPECT_EQ(split_lines(""), Lines{});
  EXPECT_EQ(split_lines("a\n\nb"), (Lines{"a\n", "\n", "b"}));
  EXPECT_EQ(split_lines("\r\n"), Lines{"\r\n"});
  EXPECT_EQ(split_lines(long_line + "\nz\n"), (Lines{long_line + "\n", "z\n"}));
  // Pieces as a fixed-size reader returns them: exact fit, one over, the
  // line feed alone in the piece after a full one.
  EXPECT_EQ(split_lines("abc\nabcd\n", 4), (Lines{"abc\n", "abcd", "\n"}));
  EXPECT_EQ(split_lines("abcde", 2), (Lines{"ab", "cd", "e"}));
  EXPECT_EQ(split_lines(std::string_view("a\0b\n", 4)), Lines{std::string_view("a\0b\n", 4)});

  EXPECT_EQ(line_body("abc\r\n"), "abc\r");
  EXPECT_EQ(line_body("abc"), "abc");
  EXPECT_EQ(line_body("\nabc\n"), "");
  EXPECT_TRUE(is_digit('0') && is_digit('9'));
  EXPECT_FALSE(is_digit('/') || is_digit(':') || is_digit(' ') || is_digit('\xb2'));  // no superscript two
  EXPECT_TRUE(names_a_file("Active(anon)"));
  EXPECT_FALSE(names_a_file("../x") || names_a_file("a/b"));
}

}  // namespace
}  // namespace trelvik
