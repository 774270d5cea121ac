#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <deque>
#include <string>
#include <vector>

#include "lib/dns.hpp"
#include "lib/qorm_nettools.hpp"
#include "tests/unit/support/test_support.hpp"

namespace trelvik {
namespace {

std::vector<std::string> info_lines() {
  std::vector<std::string> texts;
  for (const auto& line : test::captured_log()) {
    if (line.level == LOG_INFO) texts.push_back(line.text);
  }
  return texts;
}

TEST(NetTools, TracerouteLogsFirstOfUnansweredRun) {
  test::clear_log();
  testing::internal::CaptureStdout();
  const int status = qorm_nettools_traceroute(
      "printf ' 1  gw (10.0.0.1)  0.3 ms\\n 2  * * *\\n 3  * * *\\n 4  * * *\\n 5  host (10.0.0.9)  1 ms\\n"
      " 6  * * *\\n'; exit 3");
  std::fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            " 1  gw (10.0.0.1)  0.3 ms\n\n 2  * * *\n\n 3  * * *\n\n 4  * * *\n\n 5  host (10.0.0.9)  1 ms\n\n"
            " 6  * * *\n\n");
  EXPECT_EQ(WEXITSTATUS(status), 3);
  EXPECT_EQ(info_lines(), (std::vector<std::string>{"Traceroute:  1  gw (10.0.0.1)  0.3 ms\n",
                                                    "Traceroute:  2  * * *\n", "Traceroute:  5  host (10.0.0.9)  1 ms\n",
                                                    "Traceroute:  6  * * *\n"}));

  // Output is copied in pieces of 2047 bytes, each with its own line feed.
  test::clear_log();
  testing::internal::CaptureStdout();
  EXPECT_EQ(qorm_nettools_traceroute("printf '%03000d\\n' 0"), 0);
  std::fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string(2047, '0') + "\n" + std::string(953, '0') + "\n\n");
  EXPECT_EQ(info_lines().size(), 2u);
}

// A resolver answer built by hand: the addresses in order.
class Answer {
 public:
  void add_ipv4(const char* text) {
    sockaddr_in& address = ipv4_.emplace_back();
    address.sin_family = AF_INET;
    inet_pton(AF_INET, text, &address.sin_addr);
    link(AF_INET, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  void add_ipv6(const char* text) {
    sockaddr_in6& address = ipv6_.emplace_back();
    address.sin6_family = AF_INET6;
    inet_pton(AF_INET6, text, &address.sin6_addr);
    link(AF_INET6, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  const addrinfo* head() const { return entries_.empty() ? nullptr : &entries_.front(); }

 private:
  void link(int family, sockaddr* address, socklen_t size) {
    addrinfo& entry = entries_.emplace_back();
    entry.ai_family = family;
    entry.ai_addr = address;
    entry.ai_addrlen = size;
    if (entries_.size() > 1) entries_[entries_.size() - 2].ai_next = &entry;
  }
  // deques keep their elements in place as they grow.
  std::deque<sockaddr_in> ipv4_;
  std::deque<sockaddr_in6> ipv6_;
  std::deque<addrinfo> entries_;
};

TEST(NetTools, DnsAddressesAndReport) {
  Answer three;
  three.add_ipv4("10.0.0.3");
  three.add_ipv6("fe80::1");
  three.add_ipv4("10.0.0.1");
  three.add_ipv4("10.0.0.2");
  const auto ipv4 = dns_address_texts(three.head(), AF_INET);
  EXPECT_EQ(ipv4, (std::vector<std::string>{"10.0.0.3", "10.0.0.1", "10.0.0.2"}));
  EXPECT_EQ(dns_address_texts(three.head(), AF_INET6), std::vector<std::string>{"fe80::1"});
  EXPECT_TRUE(dns_address_texts(nullptr, AF_INET).empty());

  Answer many;
  for (int i = 1; i <= 12; ++i) many.add_ipv6(("2001:db8::" + std::to_string(i)).c_str());
  many.add_ipv6("ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255");
  const auto ipv6 = dns_address_texts(many.head(), AF_INET6);
  ASSERT_EQ(ipv6.size(), 11u);
  EXPECT_EQ(ipv6.back(), "2001:db8::11");

  using Family = std::optional<std::vector<std::string>>;
  EXPECT_EQ(dns_host_report(std::nullopt, std::nullopt), "DNS Lookup failed for both IPv4 and IPv6");
  EXPECT_EQ(dns_host_report(ipv4, Family{{"::1"}}),
            "IPv4 address: 10.0.0.3\nIPv4 address: 10.0.0.1\nIPv4 address: 10.0.0.2\nIPv6 address: ::1\n");
  EXPECT_EQ(dns_host_report(std::nullopt, Family{{"::1"}}), "IPv6 address: ::1\n");
  EXPECT_EQ(dns_host_report(Family{std::vector<std::string>{}}, std::nullopt), "");
}

}  // namespace
}  // namespace trelvik
