// The line splitter every parser of outside text starts from: the pieces,
// put back together, are the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/support/fuzz_support.hpp"
#include "lib/parse/text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t max_piece = data[0] == 0 ? trelvik::kWholeLines : data[0];
  const auto text = trelvik::fuzz::text(data + 1, size - 1);
  std::string joined;
  for (const auto piece : trelvik::split_lines(text, max_piece)) {
    joined += piece;
    (void)trelvik::line_body(piece);
  }
  if (joined != text) std::abort();
  return 0;
}
