// The append of every CSV series: whole rows only, whatever a power cut or a
// full card left or does.
#include "lib/session/csv_file.hpp"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <filesystem>

#include "lib/lifecycle/archive.hpp"
#include "lib/lifecycle/archive_recovery.hpp"
#include "support/test_support.hpp"

namespace trelvik {
namespace {

using test::DeviceRoot;

TEST(CsvFile, WholeRowsEndOfATail) {
  EXPECT_EQ(whole_rows_end("a\nb\n"), 4u);
  EXPECT_EQ(whole_rows_end(std::string("a\nb\n\0\0\0", 7)), 4u);           // NUL block after the rows
  EXPECT_EQ(whole_rows_end("a\r\nb,1"), 3u);                               // a row without its line end
  EXPECT_EQ(whole_rows_end(std::string("a\nb,1\0\0", 7)), 2u);             // both
  EXPECT_EQ(whole_rows_end(std::string("\0\0\0", 3)), std::string::npos);  // the cut lies further back
  EXPECT_EQ(whole_rows_end("no line end"), std::string::npos);
}

TEST(CsvFile, FirstAppendCutsADamagedTailBackToWholeRows) {
  DeviceRoot root;
  const auto damaged = root.dir() / "damaged.csv";
  std::string text = "Date,Time,V\r\n2026-12-06,18:48:53,1\r\n";
  // A NUL block longer than one read of the tail, then half a row.
  test::write_file(damaged, text + std::string(9000, '\0') + "2026-12-06,18:4");
  {
    CsvFile csv(damaged.string());
    ASSERT_TRUE(csv.is_open());
    EXPECT_FALSE(csv.is_new());
    csv.put("2026-12-06,18:50:53,2\r\n");
    EXPECT_TRUE(csv.close());
  }
  EXPECT_EQ(test::read_file(damaged), text + "2026-12-06,18:50:53,2\r\n");

  // Nothing whole left: the file is new again and gets its header.
  const auto header_only = root.dir() / "header.csv";
  test::write_file(header_only, "Date,Ti");
  CsvFile csv(header_only.string());
  EXPECT_TRUE(csv.is_new());
}

TEST(CsvFile, MovedFileAppendsOnceAndTheOneMovedOntoClosesFirst) {
  DeviceRoot root;
  const std::string first = (root.dir() / "first.csv").string(), second = (root.dir() / "second.csv").string();
  {
    CsvFile csv(first);
    csv.put("a\n");
    CsvFile other(second);
    other.put("b\n");
    csv = std::move(other);  // "a" reaches first.csv here
    EXPECT_EQ(test::read_file(first), "a\n");
    CsvFile last(std::move(csv));
    last.put("c\n");
  }  // the moved-from files write nothing at their end
  EXPECT_EQ(test::read_file(first), "a\n");
  EXPECT_EQ(test::read_file(second), "b\nc\n");
}

// A file size limit makes the kernel write part of a row and refuse the
// rest, as a card that fills up in the middle of a write does.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &previous_);
    old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{bytes, previous_.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, old_handler_);
  }

 private:
  rlimit previous_{};
  void (*old_handler_)(int) = nullptr;
};

TEST(CsvFile, FailedAppendsAreLoggedOncePerFileUntilOneSucceeds) {
  DeviceRoot root;
  const std::string path = (root.dir() / "full.csv").string();
  test::clear_log();
  {
    const FileSizeLimit full(0);
    for (int round = 0; round < 3; ++round) {
      CsvFile csv(path);
      ASSERT_TRUE(csv.is_open());
      csv.put("2026-12-06,18:48:53,1\n");
      EXPECT_FALSE(csv.close());
    }
  }
  int lines = 0;
  for (const auto& line : test::captured_log()) {
    lines += line.text.find("Could not write file '" + path + "'") != std::string::npos;
  }
  EXPECT_EQ(lines, 1);
  EXPECT_TRUE(test::logged(LOG_ERR, "File too large"));
}

TEST(CsvFile, AShortWriteIsUndoneBeforeTheNextAppendOfTheSameProcess) {
  DeviceRoot root;
  const auto path = root.dir() / "load.csv";
  const std::string header = "Date,Time,Load\r\n";
  const std::string row = "2026-12-06,18:48:53,0.52\r\n";
  test::write_file(path, header);
  {
    const FileSizeLimit limit(header.size() + row.size() / 2);
    CsvFile csv(path.string());
    ASSERT_TRUE(csv.is_open());
    csv.put(row);
    EXPECT_FALSE(csv.close());
  }
  EXPECT_EQ(test::read_file(path), header);  // at once, not at a later process's first append
  CsvFile csv(path.string());
  csv.put(row);
  EXPECT_TRUE(csv.close());
  EXPECT_EQ(test::read_file(path), header + row);
}

TEST(CsvFile, ALinkWhereTheFileBelongsIsNeverWrittenThrough) {
  DeviceRoot root;
  const auto secret = root.dir() / "secret";
  test::write_file(secret, "secret\n");
  std::filesystem::create_directories(root.dir() / "s");
  std::filesystem::create_symlink(secret, root.dir() / "s/load.csv");
  test::clear_log();
  CsvFile csv((root.dir() / "s/load.csv").string());
  EXPECT_FALSE(csv.is_open());
  EXPECT_EQ(test::read_file(secret), "secret\n");
  EXPECT_TRUE(test::logged(LOG_ERR, "Refused to follow the symbolic link '" + (root.dir() / "s/load.csv").string()));
  EXPECT_TRUE(test::logged(LOG_ERR, "Could not open file '" + (root.dir() / "s/load.csv").string()));
}

TEST(ArchiveRecovery, WholeArchiveEndsWithTheEndRecord) {
  DeviceRoot root;
  const auto zip = root.dir() / "s.zip";
  std::string end_record("PK\x05\x06", 4);
  end_record += std::string(18, '\0');
  test::write_file(zip, "PK\x03\x04 entries " + end_record);
  EXPECT_TRUE(is_whole_archive(zip.string()));
  test::write_file(zip, "PK\x03\x04 entries " + end_record.substr(0, 10));  // cut short
  EXPECT_FALSE(is_whole_archive(zip.string()));
  test::write_file(zip, std::string(4096, '\0'));  // a power cut after the rename
  EXPECT_FALSE(is_whole_archive(zip.string()));
  EXPECT_FALSE(is_whole_archive((root.dir() / "missing.zip").string()));
}

TEST(ArchiveRecovery, OnlyASignatureWithAnEndLineMeansEnded) {
  DeviceRoot root;
  std::filesystem::create_directories(root.dir() / "a");
  std::filesystem::create_directories(root.dir() / "b");
  test::write_file(root.dir() / "a/.signature", "Start: Sun Dec  6 18:48:53 UTC 2026\n");
  test::write_file(root.dir() / "b/.signature", "Start: x\nEnd: Sun Dec  6 19:48:53 UTC 2026\n");
  EXPECT_FALSE(session_has_ended((root.dir() / "a").string()));
  EXPECT_TRUE(session_has_ended((root.dir() / "b").string()));
  EXPECT_FALSE(session_has_ended((root.dir() / "c").string()));
}

}  // namespace
}  // namespace trelvik
