#include "lib/base/openmetrics.hpp"

#include <charconv>

namespace trelvik {

void append_family_header(std::string& out, const MetricFamily& family) {
  out += "# TYPE ";
  out += family.name;
  out += family.type == MetricType::counter ? " counter\n# HELP " : " gauge\n# HELP ";
  out += family.name;
  out += ' ';
  out += family.help;
  out += '\n';
}

std::string session_labels(std::string_view serial, std::string_view session) {
  return "serial=\"" + escape_label_value(serial) + "\",session=\"" + escape_label_value(session) + '"';
}

void append_sample(std::string& out, const MetricFamily& family, std::string_view session_labels,
                   std::string_view labels, double value, std::optional<std::int64_t> seconds) {
  out += family.name;
  if (family.type == MetricType::counter) out += "_total";
  out += '{';
  out += session_labels;
  if (!labels.empty()) {
    out += ',';
    out += labels;
  }
  out += "} ";
  char text[64];
  const auto written = std::to_chars(text, text + sizeof text, value);
  out.append(text, written.ptr);
  if (seconds) {
    out += ' ';
    const auto stamp = std::to_chars(text, text + sizeof text, *seconds);
    out.append(text, stamp.ptr);
  }
  out += '\n';
}

}  // namespace trelvik
