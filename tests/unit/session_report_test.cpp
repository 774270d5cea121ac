#include "lib/export/session_report.hpp"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

namespace trelvik {
namespace {

TEST(SessionReport, EmbeddedBytesEscapeWhatAPageWouldChangeOrEndOn) {
  EXPECT_EQ(embed_bytes(std::string("a\0b\r\n</script>=\xff\x80", 17)),
            std::string("a=@b=M\n=|/script>=}\xff\x80", 21));
  EXPECT_EQ(ascii_script("x = '\xc2\xb0"
                         "C \xe2\x80\x93 \xf0\x9f\x98\x80';"),
            "x = '\\u00b0C \\u2013 \\ud83d\\ude00';");
}

TEST(SessionReport, InlinesEveryFileAndEmbedsTheArchiveBeforeTheFirstScript) {
  const std::map<std::string, std::string, std::less<>> files = {
      {"a.css", "body { color: red }"},
      {"a.js", "var s = '</script><b>'; var t = '</SCRIPT>';"},
      {"b.js", "start();"},
  };
  const ReportAsset asset = [&](std::string_view name) -> std::optional<std::string_view> {
    const auto it = files.find(name);
    if (it == files.end()) return std::nullopt;
    return std::string_view(it->second);
  };
  const std::string page =
      "<html><head><meta charset=\"utf-8\"><link rel=\"stylesheet\" href=\"a.css\"></head><body><p>x</p>\n"
      "<script src=\"a.js\"></script>\n<script src=\"b.js\"></script>\n</body></html>";
  std::string missing;
  const std::optional<std::string> report = build_session_report(page, asset, "PK\x03\x04", "s\"<1>.zip", &missing);
  ASSERT_TRUE(report);
  EXPECT_EQ(report->find("<link"), std::string::npos);
  EXPECT_EQ(report->find("src="), std::string::npos);
  EXPECT_NE(report->find("<style>\nbody { color: red }\n</style>"), std::string::npos);
  // A closing tag inside an inlined script would end it early.
  EXPECT_NE(report->find("var s = '<\\/script><b>'; var t = '<\\/SCRIPT>';"), std::string::npos);
  EXPECT_NE(report->find("<head><meta charset=\"windows-1252\"><style>"), std::string::npos);
  const std::size_t archive = report->find(
      "id=\"trelvik-archive\" data-encoding=\"bytes\" data-name=\"s&quot;&lt;1&gt;.zip\">\nPK\x03\x04\n</script>");
  ASSERT_NE(archive, std::string::npos);
  EXPECT_LT(archive, report->find("<script>"));
  EXPECT_LT(report->find("<\\/SCRIPT>"), report->find("start();"));
  EXPECT_NE(report->find("</body></html>"), std::string::npos);

  const std::string broken = "<body><script src=\"gone.js\"></script></body>";
  EXPECT_FALSE(build_session_report(broken, asset, "", "x.zip", &missing));
  EXPECT_EQ(missing, "gone.js");
}

}  // namespace
}  // namespace trelvik
