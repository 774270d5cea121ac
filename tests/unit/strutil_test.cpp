#include "lib/strutil.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace trelvik {
namespace {

TEST(StrUtil, CuttingAndReplacing) {
  char list[] = "a,b,c";
  char* cut = str_terminate_at(list, ',');
  ASSERT_EQ(cut, list + 1);
  EXPECT_STREQ(list, "a");
  EXPECT_EQ(*cut, '\0');

  char plain[] = "abc";
  EXPECT_EQ(str_terminate_at(plain, ','), nullptr);
  EXPECT_STREQ(plain, "abc");

  char dotted[] = "root.Temp.Sensor";
  str_replace_char(dotted, '.', '_');
  EXPECT_STREQ(dotted, "root_Temp_Sensor");
  str_replace_char(dotted, '_', '_');  // must return, not loop
  EXPECT_STREQ(dotted, "root_Temp_Sensor");
}

TEST(StrUtil, Join) {
  char* two = str_join("/a/", "b", nullptr);
  EXPECT_STREQ(two, "/a/b");
  std::free(two);
  char* empty = str_join("", "", "");
  ASSERT_NE(empty, nullptr);
  EXPECT_STREQ(empty, "");
  std::free(empty);
}

}  // namespace
}  // namespace trelvik
