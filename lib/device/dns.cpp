#include "lib/device/dns.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <syslog.h>

#include <cstdio>

namespace trelvik {
namespace {

constexpr std::size_t kMaxAddresses = 11;
constexpr std::size_t kHostBuffer = 1025;
constexpr std::size_t kServiceBuffer = 32;

void log_outcome(const char* url, bool success) {
  syslog(LOG_DEBUG, "Network Tools: DNS Lookup %s %s", url, success ? "successful" : "failed");
}

// Asks the resolver for the name of `address`; a text that is not an address
// leaves it zero, as the lookup has always done.
void print_reverse(const char* url, const sockaddr* address, socklen_t size, const char* failure) {
  char host[kHostBuffer] = {};
  char service[kServiceBuffer] = {};
  const bool found = getnameinfo(address, size, host, sizeof host, service, sizeof service, NI_NUMERICSERV) == 0;
  if (found) {
    std::printf("Hostname: %s", host);
  } else {
    std::fputs(failure, stdout);
  }
  log_outcome(url, found);
}

void print_ipv4(const char* url) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  inet_pton(AF_INET, url, &address.sin_addr);
  print_reverse(url, reinterpret_cast<const sockaddr*>(&address), sizeof address, "Reverse IPv4 DNS Lookup failed");
}

void print_ipv6(const char* url) {
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  inet_pton(AF_INET6, url, &address.sin6_addr);
  print_reverse(url, reinterpret_cast<const sockaddr*>(&address), sizeof address, "Reverse IPv6 DNS Lookup failed");
}

std::optional<std::vector<std::string>> resolve(const char* url, int family) {
  addrinfo hints{};
  hints.ai_family = family;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* results = nullptr;
  if (getaddrinfo(url, "http", &hints, &results) != 0) return std::nullopt;
  std::vector<std::string> texts = dns_address_texts(results, family);
  freeaddrinfo(results);
  return texts;
}

void print_host(const char* url) {
  const auto ipv4 = resolve(url, AF_INET);
  const auto ipv6 = resolve(url, AF_INET6);
  std::fputs(dns_host_report(ipv4, ipv6).c_str(), stdout);
  log_outcome(url, ipv4 || ipv6);
}

}  // namespace

std::vector<std::string> dns_address_texts(const addrinfo* results, int family) {
  std::vector<std::string> texts;
  for (const addrinfo* entry = results; entry != nullptr && texts.size() < kMaxAddresses; entry = entry->ai_next) {
    if (entry->ai_family != family || entry->ai_addr == nullptr) continue;
    char text[INET6_ADDRSTRLEN] = {};
    const void* raw = family == AF_INET
                          ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr)
                          : static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(entry->ai_addr)->sin6_addr);
    if (inet_ntop(family, raw, text, sizeof text) != nullptr) texts.emplace_back(text);
  }
  return texts;
}

std::string dns_host_report(const std::optional<std::vector<std::string>>& ipv4,
                            const std::optional<std::vector<std::string>>& ipv6) {
  if (!ipv4 && !ipv6) return "DNS Lookup failed for both IPv4 and IPv6";
  std::string report;
  if (ipv4) {
    for (const std::string& address : *ipv4) report += "IPv4 address: " + address + "\n";
  }
  if (ipv6) {
    for (const std::string& address : *ipv6) report += "IPv6 address: " + address + "\n";
  }
  return report;
}

void write_out_dns(const char* url, UrlType type) {
  syslog(LOG_DEBUG, "Network Tools: DNS Lookup %s", url);
  switch (type) {
    case URLTYPE_IPV4:
      print_ipv4(url);
      break;
    case URLTYPE_IPV6:
      print_ipv6(url);
      break;
    case URLTYPE_HOST:
      print_host(url);
      break;
  }
}

}  // namespace trelvik
