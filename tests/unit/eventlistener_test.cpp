#include "lib/eventlistener.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/unit/support/test_support.hpp"

namespace trelvik {
namespace {

const std::string kEnd = "-----------------------------------\n";

struct Logged {
  int level;
  std::string text;
  bool operator==(const Logged&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Logged& line) {
  return out << line.level << ":" << line.text;
}

std::vector<Logged> logs() {
  std::vector<Logged> lines;
  for (const auto& line : test::captured_log()) lines.push_back({line.level, line.text});
  return lines;
}

// Feeds `text` through the program's reader, as standard input would.
std::vector<Logged> run_text(const std::string& text) {
  test::clear_log();
  get_global_event_buffer() = eventlistener_Event{};
  // fmemopen refuses an empty buffer.
  std::FILE* in = text.empty() ? std::fopen("/dev/null", "r")
                               : fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  EXPECT_EQ(eventlistener_run(in), 0);
  std::fclose(in);
  return logs();
}

Logged event_line(const std::string& rest) { return {LOG_INFO, "Metadata Event " + rest}; }
Logged warning(const std::string& text) { return {LOG_WARNING, text}; }

TEST(EventListener, Blocks) {
  const std::string name41(41, 'n');
  struct Case {
    const char* what;
    std::string input;
    std::vector<Logged> expected;
  } cases[] = {
      {"example blocks", test::fixture("events/example.txt"),
       {event_line("2024-01-01T00:00:00Z onvif:Device/zurn:Status"),
        event_line("2024-01-01T00:00:05Z onvif:Device/zurn:Status/Token/State")}},
      {"order 2, 0, 1",
       "[tns1:topic2] = 'C'\n[tns1:topic0] = 'A'\n[tnszurn:topic1] = 'B'\n" + kEnd,
       {event_line(" onvif:A/zurn:B/onvif:C")}},
      {"missing level", "[tns1:topic0] = 'A'\n[tns1:topic2] = 'C'\n" + kEnd, {event_line(" onvif:A/onvif:C")}},
      {"47-byte cut", "[tns1:topic0] = '" + name41 + "xyz'\n" + kEnd, {event_line(" onvif:" + name41)}},
      {"timestamp cut", "Timestamp: " + std::string(40, 't') + " \n" + kEnd,
       {event_line(std::string(31, 't') + " ")}},
      {"a last word keeps its line feed", "Timestamp: 2024-01-01T00:00:00Z\n" + kEnd,
       {event_line("2024-01-01T00:00:00Z\n ")}},
      {"letter for digit", "[tns1:topicx] = 'A'\n" + kEnd, {warning("Topic number is not a digit, skipping.")}},
      {"prefix without digit", "[tnszurn:topic = 'A'\n" + kEnd, {warning("Topic number is not a digit, skipping.")}},
      {"empty topic word", "[tns1:topic0] = \n" + kEnd,
       {warning("Could not find ending apostrophe for topic name, skipping.")}},
      {"one-character topic word", "[tns1:topic0] = '\n" + kEnd,
       {warning("Could not find ending apostrophe for topic name, skipping.")}},
      {"unterminated name", "[tns1:topic0] = 'Device\n" + kEnd,
       {warning("Could not find ending apostrophe for topic name, skipping.")}},
      {"'=' must stand alone", "[tns1:topic0] =x 'A'\n" + kEnd, {}},
      {"two blanks make an empty word", "[tns1:topic0] =  'A'\n" + kEnd,
       {warning("Could not find ending apostrophe for topic name, skipping.")}},
      {"only the first value of a line", "Timestamp: T1 [tns1:topic0] = 'A'\n[tns1:topic0] = 'B' Timestamp: T2\n" + kEnd,
       {event_line("T1 onvif:B")}},
      {"end line without topic 0 or time keeps the record",
       "[tnszurn:topic1] = 'Status'\n" + kEnd + "[tns1:topic0] = 'Device'\n[tnszurn:topic1] = 'Other'\n" + kEnd,
       {warning("Duplicate topics with index 1, skipping. Found ''Other'\n', already got 'zurn:Status'"),
        event_line(" onvif:Device/zurn:Status")}},
      {"later parameter overwrites, a bracketless one keeps",
       "[tns1:topic0] = 'A'\n {onvif-source} [S1]\n {onvif-source} [S2]\n {onvif-source} [S3\n" + kEnd,
       {event_line(" onvif:A/S2")}},
      {"no end line", "Timestamp: T \n[tns1:topic0] = 'A'\n", {}},
      {"empty input", "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(run_text(c.input), c.expected);
  }
}

TEST(EventListener, TopicPathLimit) {
  std::string fits, over;
  for (int i = 0; i < 10; ++i) {
    fits += "[tns1:topic" + std::to_string(i) + "] = '" + std::string(41, static_cast<char>('a' + i)) + "'\n";
  }
  over = fits + " {onvif-source} [" + std::string(127, 's') + "]\n";
  // 10 topics of 47 bytes and 9 separators: 479 bytes fit.
  std::vector<Logged> lines = run_text(fits + kEnd);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].text.size(), std::string("Metadata Event  ").size() + 479);

  lines = run_text(over + kEnd + "[tns1:topic0] = 'next'\n" + kEnd);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].level, LOG_ERR);
  EXPECT_NE(lines[0].text.find("Metadata Event topic_tree is too small. Skipping topic starting with 'onvif:aaa"),
            std::string::npos);
  EXPECT_NE(lines[0].text.find("' while adding '" + std::string(127, 's') + "'."), std::string::npos);
  EXPECT_EQ(lines[1], event_line(" onvif:next"));  // the dropped event was emptied all the same
}

TEST(EventListener, LongLinesArriveInPieces) {
  // 4095 bytes fill the reader's buffer; the topic after them is a line of its own.
  const std::string input = std::string(4095, 'y') + "[tns1:topic0] = 'A'\n" + kEnd;
  EXPECT_EQ(run_text(input), std::vector<Logged>{event_line(" onvif:A")});
  const std::string one_line = std::string(4094, 'y') + "[tns1:topic0] = 'A'\n" + kEnd;
  EXPECT_EQ(run_text(one_line), std::vector<Logged>{});
}

TEST(EventListener, ParameterAndGlobalRecord) {
  std::string value = "old";
  parse_parameter(" {onvif-source} ]x[", value, 127);
  EXPECT_EQ(value, "old");
  parse_parameter(" {onvif-source} [" + std::string(200, 'v') + "]", value, 127);
  EXPECT_EQ(value, std::string(127, 'v'));

  test::clear_log();
  get_global_event_buffer() = eventlistener_Event{};
  parse_eventlistener_line("[tns1:topic0] = 'A'\n");
  EXPECT_EQ(get_global_event_buffer().topics[0], "onvif:A");
  parse_eventlistener_line(kEnd);
  EXPECT_EQ(get_global_event_buffer().topics[0], "");
  EXPECT_EQ(logs(), std::vector<Logged>{event_line(" onvif:A")});
}

}  // namespace
}  // namespace trelvik
