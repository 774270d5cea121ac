// Checks of texts meant to be addresses, host names or numbers, made before a
// program acts on them. Pure: no state, no logging, no allocation. A null
// text is never valid.
#pragma once

namespace trelvik {

// The platform's IPv4 text conversion accepts the whole text.
bool validate_ipv4(const char* string);
// The platform's IPv6 text conversion accepts the whole text.
bool validate_ipv6(const char* string);
// At most 255 bytes of letters, digits, "-" and "."; not beginning with "-"
// or ".", not ending in "-". The empty text passes.
bool validate_hostname(const char* string);
// An IPv4 address, an IPv6 address or an acceptable host name.
bool validate_address(const char* string);
// Only the digits 0 to 9; the empty text passes.
bool validate_digits(const char* string);

}  // namespace trelvik
