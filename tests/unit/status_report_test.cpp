#include "lib/web/status_report.hpp"

#include <gtest/gtest.h>

#include <string>

#include "tests/unit/support/test_support.hpp"

namespace trelvik {
namespace {

constexpr const char* kJsonOk = "Status: 200 OK\r\nContent-Type: application/json; charset=utf-8\r\n\r\n";

TEST(StatusReport, SessionObjectAndHeadByteForByte) {
  EXPECT_EQ(status_session_json({"/p", "s", "e", "1 MiB", "2 MiB"}),
            R"({"Path":"/p","StartTime":"s","EndTime":"e","size":"1 MiB","sizeZip":"2 MiB"})");
  EXPECT_EQ(status_session_json({"a\"b\\c\td", "", "", "", ""}),
            R"({"Path":"a\"b\\c\td","StartTime":"","EndTime":"","size":"","sizeZip":""})");
  EXPECT_EQ(status_report_head(false, "05:20:00 2026-12-08", 0, ""),
            std::string(kJsonOk) + R"({"active":false,"device":{"Time":"05:20:00 2026-12-08"},)" +
                R"("miscellaneous":{"ptz_test_interval":0,"ptz_test_given_times":""})");
  EXPECT_EQ(status_report_head(true, "", 18446744073709551615u, "08:00,20:00\\"),
            std::string(kJsonOk) + R"({"active":true,"device":{"Time":""},)" +
                R"("miscellaneous":{"ptz_test_interval":18446744073709551615,"ptz_test_given_times":"08:00,20:00\\"})");
}

TEST(StatusReport, CollectorCommand) {
  test::DeviceRoot root;
  const std::string script = root.path("/usr/local/packages/Trelvik/shell/collect_monitoring_sessions.sh");
  EXPECT_EQ(status_collector_command("ACCC8E000001"), script + " 'ACCC8E000001'");
  EXPECT_EQ(status_collector_command("it's"), script + " 'it'\\''s'");
}

}  // namespace
}  // namespace trelvik
