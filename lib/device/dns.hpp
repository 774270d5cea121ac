// Forward and reverse name lookups through the system resolver, with the
// result on standard output and a debug line in the system log.
#pragma once

#include <netdb.h>

#include <optional>
#include <string>
#include <vector>

namespace trelvik {

enum UrlType {
  URLTYPE_HOST = 0,  // a host name: its IPv4 and IPv6 addresses
  URLTYPE_IPV4 = 1,  // a dotted IPv4 address: its host name
  URLTYPE_IPV6 = 2,  // an IPv6 address: its host name
};

// Looks `url` up as `type` says and prints the result ("Hostname: ...",
// "IPv4 address: ..." lines, or a failure text). A failed lookup is only
// reported; it is not an error of the operation.
void write_out_dns(const char* url, UrlType type);

// The address texts of the `family` entries of `results`, in order, at most
// eleven.
std::vector<std::string> dns_address_texts(const addrinfo* results, int family);

// The text a host lookup prints: empty optionals are failed lookups.
std::string dns_host_report(const std::optional<std::vector<std::string>>& ipv4,
                            const std::optional<std::vector<std::string>>& ipv6);

}  // namespace trelvik
