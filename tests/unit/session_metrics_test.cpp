#include "lib/web/session_metrics.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include "tests/unit/support/test_support.hpp"

namespace trelvik {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSession = "20261206_18_48_53";

fs::path fixture_session() { return fs::path(std::getenv("TRELVIK_FIXTURES")) / "export" / kSession; }

std::set<std::string> lines_of(const std::string& text) {
  std::set<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.insert(line);
  return lines;
}

// The scrape must add to the series the export writes: every sample line of
// the latest round is, byte for byte, a line of the export of the same rows.
TEST(SessionMetrics, LatestRoundUsesTheExportedNamesAndTimes) {
  const std::string text = session_metrics_text(fixture_session().string(), "ACCC8E000001");
  const std::set<std::string> exported = lines_of(test::fixture("export/session.om"));
  const std::string labels = "{serial=\"ACCC8E000001\",session=\"20261206_18_48_53\"";
  std::size_t samples = 0;
  for (const std::string& line : lines_of(text)) {
    if (line.starts_with("trelvik_session_active") || line.starts_with("trelvik_session_data_points") ||
        line.starts_with("# TYPE trelvik_session_") || line.starts_with("# HELP trelvik_session_")) {
      continue;
    }
    EXPECT_TRUE(exported.count(line)) << line;
    samples += line.starts_with("trelvik_");
  }
  // The latest of each file: MemFree's 18:52:53 row (the round after the
  // others), the 18:50:53 rows, the script files' last samples.
  EXPECT_NE(text.find("key=\"MemFree\"} 186368000 1796579573\n"), std::string::npos);
  EXPECT_NE(text.find("trelvik_session_info" + labels +
                      ",model=\"Q6135-LE\",firmware=\"11.8.64\","
                      "storage=\"SD_DISK\"} 1 1796579573\n"),
            std::string::npos);
  EXPECT_NE(text.find("trelvik_load1" + labels + "} 1.1 1796579453\n"), std::string::npos);
  EXPECT_NE(text.find("trelvik_session_active" + labels + "} 1\n"), std::string::npos);
  EXPECT_NE(text.find("trelvik_session_data_points" + labels + "} 3\n"), std::string::npos);
  EXPECT_EQ(samples, 60u);  // one per series of the export
  EXPECT_TRUE(text.ends_with("\n# EOF\n"));
}

// Nothing on the storage is followed: a linked file or folder is left out,
// a linked session folder gives no round (the session still runs).
TEST(SessionMetrics, LinksAreNeverFollowed) {
  const fs::path dir = fs::temp_directory_path() / ("metrics_links_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::copy(fixture_session(), dir / kSession, fs::copy_options::recursive);
  const fs::path load = dir / kSession / "system_monitoring/monitoring_load";
  fs::rename(load / "load.csv", dir / "load.csv");
  fs::create_symlink(dir / "load.csv", load / "load.csv");
  fs::rename(dir / kSession / "system_monitoring/monitoring_meminfo", dir / "meminfo");
  fs::create_directory_symlink(dir / "meminfo", dir / kSession / "system_monitoring/monitoring_meminfo");
  fs::create_directory_symlink(dir / kSession, dir / "linked");

  const std::string text = session_metrics_text((dir / kSession).string(), "ACCC8E000001");
  EXPECT_EQ(text.find("trelvik_load1"), std::string::npos);
  EXPECT_EQ(text.find("trelvik_memory_bytes"), std::string::npos);
  EXPECT_NE(text.find("trelvik_temperature_celsius"), std::string::npos);
  EXPECT_EQ(session_metrics_text((dir / "linked").string(), "ACCC8E000009"),
            "# TYPE trelvik_session_active gauge\n# HELP trelvik_session_active 1 while a session runs.\n"
            "trelvik_session_active{serial=\"ACCC8E000009\",session=\"linked\"} 1\n# EOF\n");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace trelvik
