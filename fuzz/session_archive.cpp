// Whatever file the report command is given: the archive check walks its zip
// structures, and its bytes are embedded into the report page.
#include <cstddef>
#include <cstdint>
#include <string>

#include "lib/export/session_report.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const trelvik::ArchiveCheck check = trelvik::check_session_archive(bytes);
  if (check.verdict == trelvik::ArchiveVerdict::NotSession && check.reason.empty()) __builtin_trap();
  const std::string embedded = trelvik::embed_bytes(bytes);
  // The element's text may never hold what would end it or be changed by a parser.
  if (embedded.find('<') != std::string::npos || embedded.find('\r') != std::string::npos ||
      embedded.find('\0') != std::string::npos) {
    __builtin_trap();
  }
  const std::string ascii = trelvik::ascii_script(bytes);
  for (const char c : ascii) {
    if (static_cast<unsigned char>(c) >= 0x80) __builtin_trap();
  }
  return 0;
}
