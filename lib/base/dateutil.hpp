// Every date and time the system writes comes from here.
#pragma once

#include <cstddef>

namespace trelvik {

// Formats the current local time with strftime `format` into the caller's
// zero-filled `buffer`. On failure logs one error line and leaves an empty
// string (the whole buffer zeroed when the text does not fit).
void date_format_now(char* buffer, std::size_t buffer_size, const char* format);

}  // namespace trelvik
