#include "lib/parse/collector_output.hpp"

#include "lib/parse/text.hpp"

namespace trelvik {
namespace {

constexpr std::string_view kSessionEnd = "=== SESSION END ===";

// The collector's line prefixes (case-sensitive, at the very start) and the
// field each one sets; they exclude each other, so one line sets one field.
struct FieldPrefix {
  std::string_view prefix;
  std::string CollectedSession::*field;
};
constexpr FieldPrefix kFieldPrefixes[] = {
    {"PATH:", &CollectedSession::path},        {"Start: ", &CollectedSession::start_time},
    {"End: ", &CollectedSession::end_time},    {"SIZE:", &CollectedSession::size},
    {"ZIPSIZE:", &CollectedSession::size_zip},
};

}  // namespace

bool status_apply_collector_line(CollectedSession& fields, std::string_view line) {
  line = line_body(line);
  for (const auto& [prefix, field] : kFieldPrefixes) {
    if (line.starts_with(prefix)) {
      (fields.*field).assign(line.substr(prefix.size()));
      break;
    }
  }
  return line.starts_with(kSessionEnd);
}

}  // namespace trelvik
