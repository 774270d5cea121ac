// Test driver for the network tools on the emulated camera.
//
//   driver_nettools ping <address>
//   driver_nettools traceroute <command line>
//   driver_nettools dns host|ipv4|ipv6|other <url>
//
// The operation's standard output is passed through; the status that ping
// and traceroute return goes to standard error as "status <n>".
#include <cstdio>
#include <cstring>

#include "lib/base/log.hpp"
#include "lib/device/dns.hpp"
#include "lib/device/qorm_nettools.hpp"

namespace {

int usage() {
  std::fputs("usage: driver_nettools ping <address> | traceroute <command> | dns <type> <url>\n", stderr);
  return 2;
}

trelvik::UrlType url_type(const char* name) {
  if (std::strcmp(name, "host") == 0) return trelvik::URLTYPE_HOST;
  if (std::strcmp(name, "ipv4") == 0) return trelvik::URLTYPE_IPV4;
  if (std::strcmp(name, "ipv6") == 0) return trelvik::URLTYPE_IPV6;
  return static_cast<trelvik::UrlType>(3);  // a kind the lookup does not know
}

}  // namespace

int main(int argc, char** argv) {
  trelvik::open_program_log();
  if (argc == 3 && std::strcmp(argv[1], "ping") == 0) {
    const int status = trelvik::qorm_nettools_ping(argv[2]);
    std::fflush(stdout);
    std::fprintf(stderr, "status %d\n", status);
  } else if (argc == 3 && std::strcmp(argv[1], "traceroute") == 0) {
    const int status = trelvik::qorm_nettools_traceroute(argv[2]);
    std::fflush(stdout);
    std::fprintf(stderr, "status %d\n", status);
  } else if (argc == 4 && std::strcmp(argv[1], "dns") == 0) {
    trelvik::write_out_dns(argv[3], url_type(argv[2]));
  } else {
    return usage();
  }
  return 0;
}
