#include "lib/parse/collector_output.hpp"

#include <gtest/gtest.h>

#include "lib/web/status_report.hpp"

namespace trelvik {
namespace {

TEST(CollectorOutput, LinesOfABlock) {
  const struct {
    const char* line;
    bool ends;
    CollectedSession after;  // starting from empty fields
  } cases[] = {
      {"PATH:/a/b\n", false, {"/a/b", "", "", "", ""}},
      {"PATH: /a/b", false, {" /a/b", "", "", "", ""}},  // the blank is part of the value
      {"Start: Tue Dec  8\n", false, {"", "Tue Dec  8", "", "", ""}},
      {"Start:Tue\n", false, {}},  // the prefix has its blank
      {"start: Tue\n", false, {}},
      {"End: Wed\r\n", false, {"", "", "Wed\r", "", ""}},
      {"SIZE:12 MiB\n", false, {"", "", "", "12 MiB", ""}},
      {"ZIPSIZE:3 MiB\n", false, {"", "", "", "", "3 MiB"}},
      {" PATH:/x\n", false, {}},
      {"=== SESSION END ===\n", true, {}},
      {"=== SESSION END === trailing\n", true, {}},
      {"=== SESSION END ==\n", false, {}},
      {"PATH:\n", false, {}},
  };
  for (const auto& c : cases) {
    CollectedSession fields;
    EXPECT_EQ(status_apply_collector_line(fields, c.line), c.ends) << c.line;
    EXPECT_EQ(status_session_json(fields), status_session_json(c.after)) << c.line;
  }
}

}  // namespace
}  // namespace trelvik
