// The web entry's query string: a request that passes carries a value with
// no control character (NUL and line feeds included), and every refusal has
// a reply text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/support/fuzz_support.hpp"
#include "lib/parse/web_query.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto query = trelvik::fuzz::text(data, size);
  std::string error;
  const auto request = trelvik::parse_web_query(query, error);
  if (!request) {
    if (error.empty()) std::abort();
  } else {
    if (request->action == nullptr) std::abort();
    for (const unsigned char c : request->value) {
      if (c < 0x20 || c == 0x7f) std::abort();
    }
  }
  (void)trelvik::percent_decode(query);
  return 0;
}
