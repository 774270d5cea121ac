// What every fuzz target shares: the input as text, a NUL-terminated copy for
// the parsers that take C strings, and the first byte as a selector.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace trelvik::fuzz {

inline std::string_view text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// The input's lines as a collector's line reader hands them over: each with
// its line feed, the last one without when the text does not end in one.
std::vector<std::string> lines_of(std::string_view text);

}  // namespace trelvik::fuzz
