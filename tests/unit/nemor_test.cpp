#include "lib/nemor.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>

#include "lib/sysutil.hpp"
#include "tests/unit/support/test_support.hpp"

namespace trelvik {
namespace {

constexpr const char* kSensors = "/zurn-cgi/param.cgi?action=list&group=root.TemperatureControl.Sensor";
constexpr const char* kHostile = "p\"a$(touch pwned)`id`\\'s;|&<>*? x";

// A device curl that prints every argument it receives on a line of its own
// (to standard output, and to args.txt beside it), then exits with the status
// in exit.txt when there is one.
void install_recording_curl(const test::DeviceRoot& root) {
  const std::string dir = root.dir().string();
  root.write("/usr/bin/curl",
             "#!/bin/sh\n"
             "for a do printf '%s\\n' \"$a\"; done | tee '" + dir + "/args.txt'\n"
             "[ -f '" + dir + "/exit.txt' ] && exit \"$(cat '" + dir + "/exit.txt')\"\n"
             "exit 0\n");
  chmod(root.path("/usr/bin/curl").c_str(), 0755);
}

std::string body_of(ReadPipe pipe) {
  std::string body, line;
  while (pipe.read_line(line)) body += line;
  pipe.close();
  return body;
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

TEST(Nemor, CredentialsAndPathReachCurlUnchanged) {
  test::DeviceRoot root;
  install_recording_curl(root);
  const std::string quotes(255, '"');  // the longest password the programs read
  struct Case {
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
    SCOPED_TRACE(c.pass);
    const std::string expected = std::string("-sS\n-u\n") + c.user + ":" + c.pass + "\nhttp://127.0.0.12" + c.path + "\n";
    EXPECT_EQ(body_of(nemor_get(c.user, c.pass, c.path)), expected);
  }
  EXPECT_FALSE(std::filesystem::exists("pwned"));
  EXPECT_FALSE(std::filesystem::exists(root.path("/pwned")));
}

TEST(Nemor, DownloadPassesTheDestinationAndReportsCurlsStatus) {
  test::DeviceRoot root;
  install_recording_curl(root);
  const std::string dest = root.dir().string() + "/Server Report \"$(touch pwned)\".txt";
  EXPECT_TRUE(nemor_download("root", kHostile, "/zurn-cgi/serverreport.cgi", dest.c_str()));
  EXPECT_EQ(test::read_file(root.dir() / "args.txt"),
            std::string("-sS\n-u\nroot:") + kHostile + "\n-o\n" + dest + "\nhttp://127.0.0.12/zurn-cgi/serverreport.cgi\n");

  // A failing curl: false, and the logged command hides the password.
  sysutil_hide_secret(kHostile);
  test::write_file(root.dir() / "exit.txt", "7");
  test::clear_log();
  EXPECT_FALSE(nemor_download("root", kHostile, "/zurn-cgi/serverreport.cgi", dest.c_str()));
  ASSERT_EQ(test::captured_log().size(), 1u);
  const std::string& line = test::captured_log()[0].text;
  EXPECT_EQ(test::captured_log()[0].level, LOG_WARNING);
  EXPECT_TRUE(line.starts_with("Exit status '7' for command: ")) << line;
  EXPECT_NE(line.find("-u \"root\":\"***\" -o"), std::string::npos) << line;
  EXPECT_EQ(line.find("touch pwned)`id`"), std::string::npos) << line;
  EXPECT_FALSE(std::filesystem::exists("pwned"));
}

TEST(Nemor, MissingCurlGivesAStreamWithoutLines) {
  test::DeviceRoot root;
  // The shell starts, curl is not there: no body, exit status 127.
  ReadPipe pipe = nemor_get("root", "pass", kSensors);
  ASSERT_TRUE(pipe.is_open());
  std::string line;
  EXPECT_FALSE(pipe.read_line(line));
  EXPECT_EQ(WEXITSTATUS(pipe.close()), 127);
  EXPECT_FALSE(nemor_download("root", "pass", "/x", root.path("/out").c_str()));
}

}  // namespace
}  // namespace trelvik
