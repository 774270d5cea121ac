#include "lib/eventlistener.hpp"

#include <syslog.h>

#include "lib/log.hpp"

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
constexpr std::size_t kTopicPathMax = 511;
// The event tool's lines were always read through a 4096-byte buffer; a longer
// line arrives as several.
constexpr int kLineBuffer = 4096;

std::string cut(std::string_view text, std::size_t max) { return std::string(text.substr(0, max)); }

// The character at `pos` taken as a digit; a word that ends before it gives
// the terminator's value, which is never a topic index.
int digit_at(std::string_view word, std::size_t pos) { return (pos < word.size() ? word[pos] : '\0') - '0'; }

void store_topic(eventlistener_Event& event, const char* prefix, int index, std::string_view word) {
  if (index < 0 || index > 9) {
    syslog(LOG_WARNING, "Topic number is not a digit, skipping.");
    return;
  }
  std::string& topic = event.topics[static_cast<std::size_t>(index)];
  if (!topic.empty()) {
    syslog(LOG_WARNING, "Duplicate topics with index %d, skipping. Found '%s', already got '%s'", index,
           std::string(word).c_str(), topic.c_str());
    return;
  }
  // The first character is the opening apostrophe.
  const std::size_t close = word.size() < 2 ? std::string_view::npos : word.find('\'', 1);
  if (close == std::string_view::npos) {
    syslog(LOG_WARNING, "Could not find ending apostrophe for topic name, skipping.");
    return;
  }
  topic = cut(std::string(prefix) + ":" + std::string(word.substr(1, close - 1)), kTopicMax);
}

// Joins `piece` onto the path; false (logged) when the path would outgrow
// its limit.
bool append_topic(std::string& path, std::string_view piece) {
  const std::size_t grown = path.size() + (path.empty() ? 0 : 1) + piece.size();
  if (grown > kTopicPathMax) {
    LOG_ERROR("Metadata Event topic_tree is too small. Skipping topic starting with '%s' while adding '%s'.",
              path.c_str(), std::string(piece).c_str());
    return false;
  }
  if (!path.empty()) path += '/';
  path += piece;
  return true;
}

}  // namespace

eventlistener_Event& get_global_event_buffer() {
  static eventlistener_Event event;
  return event;
}

void parse_parameter(std::string_view line, std::string& buffer, std::size_t max) {
  const std::size_t open = line.find('[');
  if (open == std::string_view::npos) return;
  const std::size_t close = line.find(']', open + 1);
  if (close == std::string_view::npos) return;
  buffer = cut(line.substr(open + 1, close - open - 1), max);
}

void parse_tokens(std::string_view line, eventlistener_Event& event) {
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
        return;
      case State::seek_equals:
        if (word == "=") state = State::topic_name;
        break;
      case State::topic_name:
        store_topic(event, prefix, index, word);
        return;
    }
    if (end == std::string_view::npos) return;
    start = end + 1;
  }
}

void log_event(const eventlistener_Event& event) {
  std::string path;
  for (const std::string& topic : event.topics) {
    if (!topic.empty() && !append_topic(path, topic)) return;
  }
  if (!event.onvif_source.empty() && !append_topic(path, event.onvif_source)) return;
  if (!event.onvif_data_property_state.empty() && !append_topic(path, event.onvif_data_property_state)) return;
  syslog(LOG_INFO, "Metadata Event %s %s", event.timestamp.c_str(), path.c_str());
}

void parse_eventlistener_line(std::string_view line, eventlistener_Event& event) {
  if (line.find(kEventEnd) != std::string_view::npos) {
    // An end line of an event without its first topic or a time belongs to
    // no event: what was gathered waits for the next end line.
    if (!event.topics[0].empty() || !event.timestamp.empty()) {
      log_event(event);
      event = eventlistener_Event{};
    }
  } else if (line.find(kSourceItem) != std::string_view::npos) {
    parse_parameter(line, event.onvif_source, kItemMax);
  } else if (line.find(kPropertyStateItem) != std::string_view::npos) {
    parse_parameter(line, event.onvif_data_property_state, kItemMax);
  } else {
    parse_tokens(line, event);
  }
}

void parse_eventlistener_line(std::string_view line) { parse_eventlistener_line(line, get_global_event_buffer()); }

int eventlistener_run(std::FILE* in) {
  char line[kLineBuffer];
  while (std::fgets(line, kLineBuffer, in) != nullptr) parse_eventlistener_line(line);
  return 0;
}

}  // namespace trelvik
