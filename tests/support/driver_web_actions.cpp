// Prints the web entry's table of actions, one tab-separated line a row:
//   <name> <parameter or -> <GET|POST> <reply> <program or -> <argv, blank-separated or -> <password or ->
// so that a test can hold the README's table and the pages' requests against it.
#include <cstdio>
#include <string>

#include "lib/parse/web_query.hpp"

namespace {

// In the order of the enumerations.
constexpr const char* kArgumentNames[] = {"value", "serial", "model", "firmware", "user"};
constexpr const char* kReplyNames[] = {"program", "information_file", "series_tail", "session_archive",
                                       "session_metrics"};

std::string or_dash(const std::string& text) { return text.empty() ? "-" : text; }

}  // namespace

int main() {
  for (const trelvik::WebActionRule& rule : trelvik::web_actions()) {
    std::string argv;
    for (const trelvik::WebArgument item : rule.argv) {
      argv += argv.empty() ? "" : " ";
      argv += kArgumentNames[static_cast<int>(item)];
    }
    std::printf("%s\t%s\t%s\t%s\t", std::string(rule.name).c_str(), or_dash(std::string(rule.parameter)).c_str(),
                rule.changes_state ? "POST" : "GET", kReplyNames[static_cast<int>(rule.reply)]);
    std::printf("%s\t%s\t%s\n", or_dash(std::string(rule.program)).c_str(), or_dash(argv).c_str(),
                rule.password_on_stdin ? "password" : "-");
  }
  return 0;
}
