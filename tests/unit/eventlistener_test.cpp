#include "lib/device/eventlistener.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/unit/support/test_support.hpp"

namespace trelvik {
namespace {

const std::string kEnd = "-----------------------------------\n";

using Logged = std::pair<int, std::string>;

// Feeds `text` through the program's reader, as standard input would.
std::vector<Logged> run_text(const std::string& text) {
  test::clear_log();
  get_global_event_buffer() = eventlistener_Event{};
  // fmemopen refuses an empty buffer.
  std::FILE* in =
      text.empty() ? std::fopen("/dev/null", "r") : fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  EXPECT_EQ(eventlistener_run(in), 0);
  std::fclose(in);
  std::vector<Logged> lines;
  for (const auto& line : test::captured_log()) lines.emplace_back(line.level, line.text);
  return lines;
}

Logged event_line(const std::string& rest) { return {LOG_INFO, "Metadata Event " + rest}; }
Logged warning(const std::string& text) { return {LOG_WARNING, text}; }

TEST(EventListener, Blocks) {
  const std::string name41(41, 'n');
  const Logged digit = warning("Topic number is not a digit, skipping.");
  const Logged apostrophe = warning("Could not find ending apostrophe for topic name, skipping.");
  const struct {
    const char* what;
    std::string input;
    std::vector<Logged> expected;
  } cases[] = {
      {"example blocks",
       test::fixture("events/example.txt"),
       {event_line("2024-01-01T00:00:00Z onvif:Device/zurn:Status"),
        event_line("2024-01-01T00:00:05Z onvif:Device/zurn:Status/Token/State")}},
      {"order 2, 0, 1",
       "[tns1:topic2] = 'C'\n[tns1:topic0] = 'A'\n[tnszurn:topic1] = 'B'\n" + kEnd,
       {event_line(" onvif:A/zurn:B/onvif:C")}},
      {"missing level", "[tns1:topic0] = 'A'\n[tns1:topic2] = 'C'\n" + kEnd, {event_line(" onvif:A/onvif:C")}},
      {"47-byte cut", "[tns1:topic0] = '" + name41 + "xyz'\n" + kEnd, {event_line(" onvif:" + name41)}},
      {"timestamp cut", "Timestamp: " + std::string(40, 't') + " \n" + kEnd, {event_line(std::string(31, 't') + " ")}},
      {"a last word keeps its line feed",
       "Timestamp: 2024-01-01T00:00:00Z\n" + kEnd,
       {event_line("2024-01-01T00:00:00Z\n ")}},
      {"letter for digit", "[tns1:topicx] = 'A'\n" + kEnd, {digit}},
      {"prefix without digit", "[tnszurn:topic = 'A'\n" + kEnd, {digit}},
      {"empty topic word", "[tns1:topic0] = \n" + kEnd, {apostrophe}},
      {"one-character topic word", "[tns1:topic0] = '\n" + kEnd, {apostrophe}},
      {"unterminated name", "[tns1:topic0] = 'Device\n" + kEnd, {apostrophe}},
      {"two blanks make an empty word", "[tns1:topic0] =  'A'\n" + kEnd, {apostrophe}},
      {"'=' must stand alone", "[tns1:topic0] =x 'A'\n" + kEnd, {}},
      {"only the first value of a line",
       "Timestamp: T1 [tns1:topic0] = 'A'\n[tns1:topic0] = 'B' Timestamp: T2\n" + kEnd,
       {event_line("T1 onvif:B")}},
      {"duplicate; an end line without topic 0 or time keeps the record",
       "[tnszurn:topic1] = 'Status'\n" + kEnd + "[tns1:topic0] = 'Device'\n[tnszurn:topic1] = 'Other'\n" + kEnd,
       {warning("Duplicate topics with index 1, skipping. Found ''Other'\n', already got 'zurn:Status'"),
        event_line(" onvif:Device/zurn:Status")}},
      {"later parameter overwrites, a bracketless one keeps",
       "[tns1:topic0] = 'A'\n {onvif-source} [S1]\n {onvif-source} [S2]\n {onvif-source} [S3\n" + kEnd,
       {event_line(" onvif:A/S2")}},
      {"no end line", "Timestamp: T \n[tns1:topic0] = 'A'\n", {}},
      {"empty input", "", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(run_text(c.input), c.expected) << c.what;
}

TEST(EventListener, TopicPathLimit) {
  std::string fits;
  for (int i = 0; i < 10; ++i) {
    fits += "[tns1:topic" + std::to_string(i) + "] = '" + std::string(41, static_cast<char>('a' + i)) + "'\n";
  }
  // 10 topics of 47 bytes and 9 separators: 479 bytes fit.
  std::vector<Logged> lines = run_text(fits + kEnd);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].second.size(), std::string("Metadata Event  ").size() + 479);

  const std::string source = " {onvif-source} [" + std::string(127, 's') + "]\n";
  lines = run_text(fits + source + kEnd + "[tns1:topic0] = 'next'\n" + kEnd);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].first, LOG_ERR);
  EXPECT_NE(lines[0].second.find("Metadata Event topic_tree is too small. Skipping topic starting with 'onvif:aaa"),
            std::string::npos);
  EXPECT_NE(lines[0].second.find("' while adding '" + std::string(127, 's') + "'."), std::string::npos);
  EXPECT_EQ(lines[1], event_line(" onvif:next"));  // the dropped event was emptied all the same
}

TEST(EventListener, LongLinesArriveInPieces) {
  // 4095 bytes fill the reader's buffer; the topic after them is a line of its own.
  EXPECT_EQ(run_text(std::string(4095, 'y') + "[tns1:topic0] = 'A'\n" + kEnd), std::vector{event_line(" onvif:A")});
  EXPECT_EQ(run_text(std::string(4094, 'y') + "[tns1:topic0] = 'A'\n" + kEnd), std::vector<Logged>{});

  // A parameter value is cut at 127 bytes; one without brackets leaves it.
  std::string value = "old";
  parse_parameter(" {onvif-source} ]x[", value, 127);
  EXPECT_EQ(value, "old");
  parse_parameter(" {onvif-source} [" + std::string(200, 'v') + "]", value, 127);
  EXPECT_EQ(value, std::string(127, 'v'));
}

}  // namespace
}  // namespace trelvik
