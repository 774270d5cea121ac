// The kernel's memory counters (/proc/meminfo), line by line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace trelvik {

struct MeminfoLine {
  bool skipped = false;  // no ":" (or a key that cannot name a file): `text` is the line
  std::string text;      // the key, or the whole line when skipped
  std::string value;     // the number without its unit; empty when there is none
};

// The lines of the text as the collector takes them: pieces of at most 255
// characters, so a longer line goes on as a further (usually skipped) line.
std::vector<MeminfoLine> parse_proc_meminfo(std::string_view text);

}  // namespace trelvik
