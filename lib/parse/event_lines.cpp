#include "lib/parse/event_lines.hpp"

namespace trelvik {
namespace {

constexpr std::string_view kEventEnd = "-----------------------------------";  // 35 hyphens
constexpr std::string_view kSourceItem = " {onvif-source}";
constexpr std::string_view kPropertyStateItem = " {onvif-data} {property-state}";
constexpr std::string_view kTimestampWord = "Timestamp:";
constexpr std::string_view kZurnTopicWord = "[tnszurn:topic";
constexpr std::string_view kOnvifTopicWord = "[tns1:topic";

constexpr std::size_t kTopicMax = 47;
constexpr std::size_t kTimestampMax = 31;
constexpr std::size_t kItemMax = 127;

std::string cut(std::string_view text, std::size_t max) { return std::string(text.substr(0, max)); }

// The character at `pos` taken as a digit; a word that ends before it gives
// the terminator's value, which is never a topic index.
int digit_at(std::string_view word, std::size_t pos) { return (pos < word.size() ? word[pos] : '\0') - '0'; }

// A text as a C string shows it: up to its first NUL.
std::string c_text(std::string_view text) { return std::string(text.substr(0, text.find('\0'))); }

std::optional<std::string> store_topic(eventlistener_Event& event, const char* prefix, int index,
                                       std::string_view word) {
  if (index < 0 || index > 9) return "Topic number is not a digit, skipping.";
  std::string& topic = event.topics[static_cast<std::size_t>(index)];
  if (!topic.empty()) {
    return "Duplicate topics with index " + std::to_string(index) + ", skipping. Found '" + c_text(word) +
           "', already got '" + c_text(topic) + "'";
  }
  // The first character is the opening apostrophe.
  const std::size_t close = word.size() < 2 ? std::string_view::npos : word.find('\'', 1);
  if (close == std::string_view::npos) return "Could not find ending apostrophe for topic name, skipping.";
  topic = cut(std::string(prefix) + ":" + std::string(word.substr(1, close - 1)), kTopicMax);
  return std::nullopt;
}

}  // namespace

void parse_parameter(std::string_view line, std::string& buffer, std::size_t max) {
  const std::size_t open = line.find('[');
  if (open == std::string_view::npos) return;
  const std::size_t close = line.find(']', open + 1);
  if (close == std::string_view::npos) return;
  buffer = cut(line.substr(open + 1, close - open - 1), max);
}

std::optional<std::string> parse_tokens(std::string_view line, eventlistener_Event& event) {
  enum class State { scan, timestamp, seek_equals, topic_name } state = State::scan;
  const char* prefix = "";
  int index = -1;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = line.find(' ', start);
    const std::string_view word = line.substr(start, end == std::string_view::npos ? line.npos : end - start);
    switch (state) {
      case State::scan:
        if (word.starts_with(kTimestampWord)) {
          state = State::timestamp;
        } else if (word.starts_with(kZurnTopicWord)) {
          prefix = "zurn";
          index = digit_at(word, kZurnTopicWord.size());
          state = State::seek_equals;
        } else if (word.starts_with(kOnvifTopicWord)) {
          prefix = "onvif";
          index = digit_at(word, kOnvifTopicWord.size());
          state = State::seek_equals;
        }
        break;
      case State::timestamp:
        event.timestamp = cut(word, kTimestampMax);
        return std::nullopt;
      case State::seek_equals:
        if (word == "=") state = State::topic_name;
        break;
      case State::topic_name:
        return store_topic(event, prefix, index, word);
    }
    if (end == std::string_view::npos) return std::nullopt;
    start = end + 1;
  }
}

EventLine parse_event_line(std::string_view line, eventlistener_Event& event) {
  EventLine outcome;
  if (line.find(kEventEnd) != std::string_view::npos) {
    // An end line of an event without its first topic or a time belongs to
    // no event: what was gathered waits for the next end line.
    outcome.ends_event = !event.topics[0].empty() || !event.timestamp.empty();
  } else if (line.find(kSourceItem) != std::string_view::npos) {
    parse_parameter(line, event.onvif_source, kItemMax);
  } else if (line.find(kPropertyStateItem) != std::string_view::npos) {
    parse_parameter(line, event.onvif_data_property_state, kItemMax);
  } else {
    outcome.warning = parse_tokens(line, event);
  }
  return outcome;
}

}  // namespace trelvik
