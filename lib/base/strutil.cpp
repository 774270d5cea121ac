#include "lib/base/strutil.hpp"

#include <cstdlib>
#include <cstring>

namespace trelvik {

char* str_replace_next_char(char* str, char find, char replacement) {
  char* at = std::strchr(str, find);
  if (at == nullptr) return nullptr;
  *at = replacement;
  return at;
}

char* str_terminate_at(char* str, char term) { return str_replace_next_char(str, term, '\0'); }

void str_replace_char(char* str, char find, char replacement) {
  // Equal characters would make the loop below find the same place forever.
  if (find == replacement) return;
  char* at = str;
  while ((at = str_replace_next_char(at, find, replacement)) != nullptr) {
  }
}

char* str_join(const char* s1, const char* s2, const char* s3) {
  const std::size_t l1 = std::strlen(s1);
  const std::size_t l2 = std::strlen(s2);
  const std::size_t l3 = s3 == nullptr ? 0 : std::strlen(s3);
  auto* joined = static_cast<char*>(std::malloc(l1 + l2 + l3 + 1));
  if (joined == nullptr) return nullptr;
  std::memcpy(joined, s1, l1);
  std::memcpy(joined + l1, s2, l2);
  if (l3 != 0) std::memcpy(joined + l1 + l2, s3, l3);
  joined[l1 + l2 + l3] = '\0';
  return joined;
}

}  // namespace trelvik
