#include "lib/base/strutil.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

namespace trelvik {
namespace {

TEST(StrUtil, CuttingReplacingAndJoining) {
  char list[] = "a,b,c";
  EXPECT_EQ(str_terminate_at(list, ','), list + 1);
  EXPECT_STREQ(list, "a");
  char plain[] = "abc";
  EXPECT_EQ(str_terminate_at(plain, ','), nullptr);
  EXPECT_STREQ(plain, "abc");

  char dotted[] = "root.Temp.Sensor";
  str_replace_char(dotted, '.', '_');
  str_replace_char(dotted, '_', '_');  // must return, not loop
  EXPECT_STREQ(dotted, "root_Temp_Sensor");

  char* joined[] = {str_join("/a/", "b", nullptr), str_join("", "", "")};
  EXPECT_STREQ(joined[0], "/a/b");
  EXPECT_STREQ(joined[1], "");
  for (char* text : joined) std::free(text);
}

}  // namespace
}  // namespace trelvik
