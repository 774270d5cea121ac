#include "lib/web/httputil.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "tests/unit/support/test_support.hpp"

namespace trelvik {
namespace {

// What `print` writes to a FILE*.
std::string printed(const std::function<void(FILE*)>& print) {
  char* data = nullptr;
  std::size_t size = 0;
  FILE* stream = open_memstream(&data, &size);
  print(stream);
  std::fclose(stream);
  std::string text(data, size);
  std::free(data);
  return text;
}

TEST(Httputil, MessagesAreTextAndFilesAreCopiedWhole) {
  // A percent sign in a message is text, not a conversion.
  EXPECT_TRUE(printed([](FILE* out) { http_print_bad_request("100% %s", out); }).ends_with("\r\n\r\n100% %s"));

  test::DeviceRoot root;
  std::string binary;
  for (int i = 0; i < 3000; ++i) binary += static_cast<char>(i % 256);  // NULs and high bytes, over 1024
  root.write("/body.bin", binary);
  root.write("/empty.txt", "");
  const std::string missing = root.path("/missing.txt").string();
  test::clear_log();
  EXPECT_EQ(printed([&](FILE* out) { http_print_file(root.path("/body.bin").c_str(), out); }), binary);
  EXPECT_EQ(printed([&](FILE* out) { http_print_file(root.path("/empty.txt").c_str(), out); }), "");
  EXPECT_TRUE(test::captured_log().empty());
  EXPECT_EQ(printed([&](FILE* out) { http_print_file(missing.c_str(), out); }), "");
  ASSERT_EQ(test::captured_log().size(), 1u);
  EXPECT_TRUE(test::logged(LOG_ERR, ", errno: No such file or directory) Failed to open file: " + missing));
  EXPECT_EQ(errno, 0);
}

TEST(Httputil, JsonEscape) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"Tue Dec  8 05:20:00 UTC 2026", "Tue Dec  8 05:20:00 UTC 2026"},
      {"a\"b\\c", "a\\\"b\\\\c"},
      {"\b\f\n\r\t", "\\b\\f\\n\\r\\t"},
      {std::string("\0\x01\x1f\x7f", 4), "\\u0000\\u0001\\u001f\x7f"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb7", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb7"},  // é € 📷 kept
      {"caf\xe9", "caf\\ufffd"},                                                                   // Latin-1 byte
      {"\xc3", "\\ufffd"},                                   // sequence cut off at the end
      {"\xc0\xaf", "\\ufffd\\ufffd"},                        // overlong "/"
      {"\xed\xa0\x80", "\\ufffd\\ufffd\\ufffd"},             // surrogate
      {"\xf4\x90\x80\x80", "\\ufffd\\ufffd\\ufffd\\ufffd"},  // above U+10FFFF
      {"\xe2\x82x", "\\ufffd\\ufffdx"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(json_escape(in), out) << in;
}

}  // namespace
}  // namespace trelvik
