// In-place editing of C strings and joining into a new allocation.
#pragma once

namespace trelvik {

// Replaces the first `find` by `replacement`; the position, or null when
// `find` does not occur (string unchanged).
char* str_replace_next_char(char* str, char find, char replacement);
// Cuts `str` at the first `term`; the position of the cut, or null.
char* str_terminate_at(char* str, char term);
// Replaces every `find` (not the terminator) by `replacement`.
void str_replace_char(char* str, char find, char replacement);
// s1 + s2 + s3 (s3 may be null) in a malloc'd string the caller frees; null
// when memory is exhausted.
char* str_join(const char* s1, const char* s2, const char* s3);

}  // namespace trelvik
