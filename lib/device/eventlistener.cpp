#include "lib/device/eventlistener.hpp"

#include <syslog.h>

#include "lib/base/log.hpp"

namespace trelvik {
namespace {

constexpr std::size_t kTopicPathMax = 511;
// The event tool's lines were always read through a 4096-byte buffer; a longer
// line arrives as several.
constexpr int kLineBuffer = 4096;

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
  const EventLine outcome = parse_event_line(line, event);
  if (outcome.warning) syslog(LOG_WARNING, "%s", outcome.warning->c_str());
  if (outcome.ends_event) {
    log_event(event);
    event = eventlistener_Event{};
  }
}

void parse_eventlistener_line(std::string_view line) { parse_eventlistener_line(line, get_global_event_buffer()); }

int eventlistener_run(std::FILE* in) {
  char line[kLineBuffer];
  while (std::fgets(line, kLineBuffer, in) != nullptr) parse_eventlistener_line(line);
  return 0;
}

}  // namespace trelvik
