#include "lib/device/nemor.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "tests/unit/support/test_support.hpp"

namespace trelvik {
namespace {

constexpr const char* kSensors = "/zurn-cgi/param.cgi?action=list&group=root.TemperatureControl.Sensor";
constexpr const char* kHostile = "p\"a$(touch pwned)`id`\\'s;|&<>*? x";

// A device curl that prints every argument it receives on a line of its own,
// then its standard input, then how many of its environment entries hold the test's secret.
void install_recording_curl(const test::DeviceRoot& root) {
  root.write("/usr/bin/curl",
             "#!/bin/sh\nfor a do printf '%s\\n' \"$a\"; done\ncat\nenv | grep -c s3cr3t-in-env || :\n");
  chmod(root.path("/usr/bin/curl").c_str(), 0755);
}

TEST(Nemor, CommandLineOfOrdinaryValuesIsThePlainOne) {
  const char* saved = std::getenv("TRELVIK_DEVICE_ROOT");
  const std::string previous = saved != nullptr ? saved : "";
  unsetenv("TRELVIK_DEVICE_ROOT");
  EXPECT_EQ(nemor_get_command("root", "pass", kSensors),
            "/usr/bin/curl -sS -u \"root\":\"pass\" "
            "'http://127.0.0.12/zurn-cgi/param.cgi?action=list&group=root.TemperatureControl.Sensor'");
  if (saved != nullptr) setenv("TRELVIK_DEVICE_ROOT", previous.c_str(), 1);
}

TEST(Nemor, CredentialsReachCurlOnItsInputOnly) {
  test::DeviceRoot root;
  install_recording_curl(root);
  setenv("NEMOR_TEST_SECRET", "s3cr3t-in-env", 1);  // would show, were the environment handed on whole
  const std::string quotes(255, '"');               // the longest password the programs read
  const struct {
    const char* user;
    const char* pass;
    const char* path;
  } cases[] = {
      {"root", "pass", kSensors},
      {"root", kHostile, kSensors},
      {"us$er`x`", "", "/zurn-cgi/x.cgi?a='b'&c=$(touch pwned)"},
      {"root", quotes.c_str(), "/"},
  };
  for (const auto& c : cases) {
    ReadPipe pipe = nemor_get(c.user, c.pass, c.path);
    std::string body, line;
    while (pipe.read_line(line)) body += line;
    EXPECT_EQ(pipe.close(), 0);
    EXPECT_EQ(body, std::string("-sS\n--connect-timeout\n10\n--max-time\n30\n-K\n-\nhttp://127.0.0.12") + c.path +
                        "\n" + nemor_credentials_config(c.user, c.pass) + "0\n");
  }
  unsetenv("NEMOR_TEST_SECRET");
  EXPECT_FALSE(std::filesystem::exists("pwned") || std::filesystem::exists(root.path("/pwned")));
}

TEST(Nemor, CredentialsConfigEscapesWhatCurlUnquotes) {
  EXPECT_EQ(nemor_credentials_config("root", "pass"), "user = \"root:pass\"\n");
  EXPECT_EQ(nemor_credentials_config("r\"t", "a\\b\tc\rd\ve$`'x y:z"),
            "user = \"r\\\"t:a\\\\b\\tc\\rd\\ve$`'x y:z\"\n");
}

}  // namespace
}  // namespace trelvik
