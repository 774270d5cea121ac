#include "lib/httputil.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/unit/support/test_support.hpp"

namespace trelvik {
namespace {

// Collects what a function writes to a FILE*.
class Captured {
 public:
  Captured() : stream_(open_memstream(&data_, &size_)) {}
  ~Captured() {
    if (stream_ != nullptr) std::fclose(stream_);
    std::free(data_);
  }
  FILE* stream() const { return stream_; }
  std::string text() {
    std::fflush(stream_);
    return std::string(data_, size_);
  }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  FILE* stream_;
};

TEST(Httputil, HeaderBlocksAndBodiesByteForByte) {
  Captured bad;
  http_print_bad_request("Error: Interval must be only digits.", bad.stream());
  EXPECT_EQ(bad.text(),
            "Status: 400 Bad Request\r\nPragma: no-cache\r\nCache-Control: no-cache\r\nExpires: -1\r\n"
            "Content-Type: text/plain; charset=utf-8\r\n\r\nError: Interval must be only digits.");

  Captured plain;
  http_print_reply(kHttpPlainTextOk, "PTZ test rule has been set.", plain.stream());
  EXPECT_EQ(plain.text(),
            "Status: 200 OK\r\nPragma: no-cache\r\nCache-Control: no-cache\r\nExpires: -1\r\n"
            "Content-Type: text/plain\r\n\r\nPTZ test rule has been set.");

  Captured session;
  http_print_reply(kHttpTextOk, "Session deactivated.", session.stream());
  EXPECT_EQ(session.text().size(), 135u);  // the deactivation reply's known length

  EXPECT_EQ(kHttpJsonOk, "Status: 200 OK\r\nContent-Type: application/json; charset=utf-8\r\n\r\n");
  // A percent sign in a message is text, not a conversion.
  Captured percent;
  http_print_bad_request("100% %s", percent.stream());
  EXPECT_TRUE(percent.text().ends_with("\r\n\r\n100% %s"));
}

TEST(Httputil, PrintFileCopiesBytesOrNothing) {
  test::DeviceRoot root;
  std::string binary;
  for (int i = 0; i < 3000; ++i) binary += static_cast<char>(i % 256);  // NULs and high bytes, over 1024
  root.write("/body.bin", binary);
  root.write("/empty.txt", "");

  Captured whole;
  test::clear_log();
  http_print_file(root.path("/body.bin").c_str(), whole.stream());
  EXPECT_EQ(whole.text(), binary);

  Captured empty;
  http_print_file(root.path("/empty.txt").c_str(), empty.stream());
  EXPECT_EQ(empty.text(), "");
  EXPECT_TRUE(test::captured_log().empty());

  Captured missing;
  const std::string path = root.path("/missing.txt").string();
  http_print_file(path.c_str(), missing.stream());
  EXPECT_EQ(missing.text(), "");
  ASSERT_EQ(test::captured_log().size(), 1u);
  EXPECT_EQ(test::captured_log()[0].level, LOG_ERR);
  EXPECT_TRUE(test::captured_log()[0].text.ends_with(
      ", errno: No such file or directory) Failed to open file: " + path));
  EXPECT_EQ(errno, 0);
}

TEST(Httputil, JsonEscape) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"", ""},
      {"/var/spool/storage/SD_DISK/Trelvik_ACCC8E000001/20261208_05_20_00",
       "/var/spool/storage/SD_DISK/Trelvik_ACCC8E000001/20261208_05_20_00"},
      {"Tue Dec  8 05:20:00 UTC 2026", "Tue Dec  8 05:20:00 UTC 2026"},
      {"a\"b\\c", "a\\\"b\\\\c"},
      {"\b\f\n\r\t", "\\b\\f\\n\\r\\t"},
      {std::string("\0\x01\x1f\x7f", 4), "\\u0000\\u0001\\u001f\x7f"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb7", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb7"},  // é € 📷 kept
      {"caf\xe9", "caf\\ufffd"},                        // Latin-1 byte
      {"\xc3", "\\ufffd"},                              // sequence cut off at the end
      {"\xc0\xaf", "\\ufffd\\ufffd"},                   // overlong "/"
      {"\xed\xa0\x80", "\\ufffd\\ufffd\\ufffd"},        // surrogate
      {"\xf4\x90\x80\x80", "\\ufffd\\ufffd\\ufffd\\ufffd"},  // above U+10FFFF
      {"\xe2\x82x", "\\ufffd\\ufffdx"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(json_escape(c.in), c.out);
  }
}

}  // namespace
}  // namespace trelvik
