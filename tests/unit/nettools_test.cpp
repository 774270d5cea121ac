#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "lib/device/dns.hpp"
#include "lib/device/qorm_nettools.hpp"
#include "tests/unit/support/test_support.hpp"

namespace trelvik {
namespace {

using Texts = std::vector<std::string>;

// Runs a traceroute command: (its standard output, the info lines).
std::pair<std::string, Texts> traceroute(const char* command, int expected_status) {
  test::clear_log();
  testing::internal::CaptureStdout();
  EXPECT_EQ(WEXITSTATUS(qorm_nettools_traceroute(command)), expected_status);
  std::fflush(stdout);
  Texts infos;
  for (const auto& line : test::captured_log()) {
    if (line.level == LOG_INFO) infos.push_back(line.text);
  }
  return {testing::internal::GetCapturedStdout(), infos};
}

TEST(NetTools, TracerouteLogsFirstOfUnansweredRun) {
  const auto [out, infos] = traceroute(
      "printf ' 1  gw (10.0.0.1)  0.3 ms\\n 2  * * *\\n 3  * * *\\n 5  host (10.0.0.9)  1 ms\\n 6  * * *\\n'; exit 3",
      3);
  EXPECT_EQ(out, " 1  gw (10.0.0.1)  0.3 ms\n\n 2  * * *\n\n 3  * * *\n\n 5  host (10.0.0.9)  1 ms\n\n 6  * * *\n\n");
  EXPECT_EQ(infos, (Texts{"Traceroute:  1  gw (10.0.0.1)  0.3 ms\n", "Traceroute:  2  * * *\n",
                          "Traceroute:  5  host (10.0.0.9)  1 ms\n", "Traceroute:  6  * * *\n"}));
  // Output is copied in pieces of 2047 bytes, each with its own line feed.
  const auto [long_out, long_infos] = traceroute("printf '%03000d\\n' 0", 0);
  EXPECT_EQ(long_out, std::string(2047, '0') + "\n" + std::string(953, '0') + "\n\n");
  EXPECT_EQ(long_infos.size(), 2u);
}

// A resolver answer built by hand: the addresses in order.
struct Answer {
  explicit Answer(const Texts& texts) : addresses(texts.size()), entries(texts.size()) {
    for (std::size_t i = 0; i < texts.size(); ++i) {
      const int family = texts[i].find(':') == std::string::npos ? AF_INET : AF_INET6;
      auto* storage = &addresses[i];
      storage->ss_family = static_cast<sa_family_t>(family);
      void* raw = family == AF_INET ? static_cast<void*>(&reinterpret_cast<sockaddr_in*>(storage)->sin_addr)
                                    : static_cast<void*>(&reinterpret_cast<sockaddr_in6*>(storage)->sin6_addr);
      inet_pton(family, texts[i].c_str(), raw);
      entries[i].ai_family = family;
      entries[i].ai_addr = reinterpret_cast<sockaddr*>(storage);
      entries[i].ai_addrlen = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
      if (i > 0) entries[i - 1].ai_next = &entries[i];
    }
  }
  std::vector<sockaddr_storage> addresses;
  std::vector<addrinfo> entries;
};

TEST(NetTools, DnsAddressesAndReport) {
  const Answer mixed({"10.0.0.3", "fe80::1", "10.0.0.1", "10.0.0.2"});
  const Texts ipv4 = dns_address_texts(mixed.entries.data(), AF_INET);
  EXPECT_EQ(ipv4, (Texts{"10.0.0.3", "10.0.0.1", "10.0.0.2"}));
  EXPECT_EQ(dns_address_texts(mixed.entries.data(), AF_INET6), Texts{"fe80::1"});
  EXPECT_TRUE(dns_address_texts(nullptr, AF_INET).empty());

  Texts many;
  for (int i = 1; i <= 12; ++i) many.push_back("2001:db8::" + std::to_string(i));
  const Answer twelve(many);
  const Texts ipv6 = dns_address_texts(twelve.entries.data(), AF_INET6);
  ASSERT_EQ(ipv6.size(), 11u);
  EXPECT_EQ(ipv6.back(), "2001:db8::11");

  EXPECT_EQ(dns_host_report(ipv4, Texts{"::1"}),
            "IPv4 address: 10.0.0.3\nIPv4 address: 10.0.0.1\nIPv4 address: 10.0.0.2\nIPv6 address: ::1\n");
  EXPECT_EQ(dns_host_report(Texts{}, std::nullopt), "");
}

}  // namespace
}  // namespace trelvik
