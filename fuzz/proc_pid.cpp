// One process's kernel files ("/proc/<pid>/stat", "status", "cmdline") as the
// sampler reads them for its ps and top snapshots. Any process on the camera
// names itself (comm and command line are the process's own choice), so the
// text is hostile: the snapshot line must keep its width and carry no control
// bytes that would break the file's lines. The first byte chooses the file.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "fuzz/support/fuzz_support.hpp"
#include "lib/parse/proc_pid.hpp"

namespace {

void command(std::string_view input, std::size_t width) {
  // The cmdline, then after the first 0xff byte the comm.
  const auto split = input.find('\xff');
  const auto cmdline = input.substr(0, split);
  const auto comm = split == std::string_view::npos ? std::string_view{} : input.substr(split + 1);
  const auto shown = trelvik::process_command(cmdline, comm, width);
  if (shown.size() > width) std::abort();
  for (const unsigned char c : shown) {
    if (c < 0x20) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const auto text = trelvik::fuzz::text(data + 1, size - 1);
  switch (data[0] % 4) {
    case 0:
      (void)trelvik::parse_pid_stat(text);
      break;
    case 1:
      (void)trelvik::parse_status_uid(text);
      break;
    case 2:
      command(text, data[0] / 4 * 4 + 1);
      break;
    default: {
      std::uint64_t kib = 0;
      std::memcpy(&kib, data + 1, std::min<std::size_t>(size - 1, sizeof kib));
      if (trelvik::top_vsz_column(kib).size() != 7) std::abort();
      break;
    }
  }
  return 0;
}
