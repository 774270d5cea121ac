// The top screen built from the kernel's files: whatever a kernel of another
// version (or a crafted device root) writes there, each summary line stays
// within top's 79 bytes and one line, and a row leaves its command the rest of
// top's 446.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/support/fuzz_support.hpp"
#include "lib/parse/top_screen.hpp"

namespace {

void check_summary_line(const std::string& line) {
  if (line.size() > 79 || line.find('\n') != std::string::npos) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The text's first half is the earlier reading, the whole text the later one.
  const auto text = trelvik::fuzz::text(data, size);
  const auto before = trelvik::parse_cpu_times(text.substr(0, size / 2)).value_or(trelvik::CpuTimes{});
  const auto now = trelvik::parse_cpu_times(text).value_or(trelvik::CpuTimes{});
  const auto meminfo = trelvik::parse_name_values(text);
  std::vector<std::string> lines = {trelvik::top_memory_line(meminfo), trelvik::top_cpu_line(now, before),
                                    trelvik::top_load_line(text)};
  for (const std::string& line : lines) check_summary_line(line);
  const std::uint64_t mem_total = trelvik::meminfo_kib(meminfo, "MemTotal");
  for (const auto& line : trelvik::fuzz::lines_of(text)) {
    const auto process = trelvik::parse_pid_stat(line);
    if (!process) continue;
    const unsigned percent_cpu =
        trelvik::top_percent_cpu(process->ticks, process->ticks + now.busy(), now.busy(), now.total() | 1);
    const std::string columns = trelvik::top_row_columns(*process, process->comm, percent_cpu, mem_total);
    if (columns.size() < 446 && columns.size() + trelvik::top_command_room(columns) != 446) std::abort();
    lines.push_back(columns);
  }
  const std::size_t max_lines = size == 0 ? 0 : data[0] % 40;
  const std::string screen = trelvik::top_screen_text(lines, max_lines);
  std::size_t count = 0;
  for (const char c : screen) count += c == '\n' ? 1 : 0;
  if (count > max_lines) std::abort();
  return 0;
}
