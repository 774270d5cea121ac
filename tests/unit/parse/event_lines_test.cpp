#include "lib/parse/event_lines.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace trelvik {
namespace {

// Every line fed in order; the outcome of the last one.
EventLine feed(eventlistener_Event& event, const std::vector<std::string>& lines) {
  EventLine last;
  for (const std::string& line : lines) last = parse_event_line(line, event);
  return last;
}

TEST(EventLines, GatheringWarningsAndEnds) {
  const std::string end = "-----------------------------------\n";
  eventlistener_Event event;
  EXPECT_FALSE(feed(event, {"Timestamp: 2026-12-08T05:20:00Z extra\n", "  [tns1:topic0] = 'Device'\n",
                            "  [tnszurn:topic1] = 'IO'\n", "   {onvif-source} [port=1]\n",
                            "   {onvif-data} {property-state} [true]\n"})
                   .ends_event);
  EXPECT_EQ(event.timestamp, "2026-12-08T05:20:00Z");
  EXPECT_EQ(event.topics[0], "onvif:Device");
  EXPECT_EQ(event.topics[1], "zurn:IO");
  EXPECT_EQ(event.onvif_source, "port=1");
  EXPECT_EQ(event.onvif_data_property_state, "true");
  // The end line leaves the record for the caller to log and empty.
  EXPECT_TRUE(parse_event_line(end, event).ends_event);
  EXPECT_EQ(event.topics[0], "onvif:Device");

  // An end line of an event without its first topic or a time ends nothing.
  eventlistener_Event partial;
  EXPECT_FALSE(feed(partial, {"  [tns1:topic1] = 'X'\n", end}).ends_event);

  const struct {
    std::string line;
    const char* warning;  // null: none
  } topics[] = {
      {"  [tns1:topicx] = 'A'\n", "Topic number is not a digit, skipping."},
      {"  [tns1:topic] = 'A'\n", "Topic number is not a digit, skipping."},
      {"  [tns1:topic2] = 'A\n", "Could not find ending apostrophe for topic name, skipping."},
      {"  [tns1:topic2] = '\n", "Could not find ending apostrophe for topic name, skipping."},
      {"  [tns1:topic0] = 'B'\n", "Duplicate topics with index 0, skipping. Found ''B'\n', already got 'onvif:A'"},
      {"  [tns1:topic3] = '" + std::string(60, 'n') + "'\n", nullptr},
      {"  [tns1:topic4] 'no equals'\n", nullptr},
  };
  eventlistener_Event warned;
  parse_event_line("  [tns1:topic0] = 'A'\n", warned);
  for (const auto& c : topics) {
    const EventLine outcome = parse_event_line(c.line, warned);
    EXPECT_FALSE(outcome.ends_event);
    EXPECT_EQ(outcome.warning, c.warning ? std::optional<std::string>(c.warning) : std::nullopt) << c.line;
  }
  EXPECT_EQ(warned.topics[3], "onvif:" + std::string(41, 'n'));  // 47 bytes with its prefix
  EXPECT_TRUE(warned.topics[2].empty() && warned.topics[4].empty());
}

}  // namespace
}  // namespace trelvik
