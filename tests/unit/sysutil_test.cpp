#include "lib/base/sysutil.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>

#include "lib/base/atomic_file.hpp"
#include "tests/unit/support/test_support.hpp"

namespace trelvik {
namespace {

TEST(Sysutil, ExitStatusesAndTheirLines) {
  test::clear_log();
  EXPECT_TRUE(qorm_system("true"));
  EXPECT_TRUE(qorm_system("false &"));  // the background job's fate is never seen
  EXPECT_TRUE(test::captured_log().empty());
  EXPECT_FALSE(qorm_systemf("exit %d", 127));
  EXPECT_TRUE(test::logged(LOG_WARNING, "Exit status '127' for command: exit 127"));
  EXPECT_FALSE(qorm_system("kill -TERM $$"));
  EXPECT_TRUE(test::logged(LOG_ERR, "Unsuccessful command: kill -TERM $$"));
  EXPECT_EQ(errno, 0);
}

TEST(Sysutil, PasswordLineIsCutAndNeverReachesTheLog) {
  std::string secret, text = "Pa$$'w\"0rd\nrest";
  FILE* in = fmemopen(text.data(), text.size(), "r");
  ASSERT_TRUE(read_secret_line(in, secret));
  std::fclose(in);
  EXPECT_EQ(secret, "Pa$$'w\"0rd");
  test::clear_log();
  EXPECT_FALSE(qorm_systemf("exit 2 # -u \"root\":\"%s\"", "Pa\\$\\$'w\\\"0rd"));
  EXPECT_FALSE(qorm_systemf("exit 2 # -u 'root':'%s'", "Pa$$'\\''w\"0rd"));
  ASSERT_EQ(test::captured_log().size(), 2u);
  EXPECT_EQ(test::captured_log()[0].text, "Exit status '2' for command: exit 2 # -u \"root\":\"***\"");
  EXPECT_EQ(test::captured_log()[1].text, "Exit status '2' for command: exit 2 # -u 'root':***");

  text = std::string(300, 'p') + "\n";
  in = fmemopen(text.data(), text.size(), "r");
  ASSERT_TRUE(read_secret_line(in, secret));
  EXPECT_EQ(secret, std::string(255, 'p'));
  std::fclose(in);
  in = fmemopen(text.data(), 0, "r");
  EXPECT_FALSE(read_secret_line(in, secret));
  std::fclose(in);
}

// A short password such as "root" or "2" is hidden in the credentials only:
// the user, the paths and the dates keep those characters.
TEST(Sysutil, OnlyTheCredentialsPasswordIsMasked) {
  sysutil_hide_secret("root");
  sysutil_hide_secret("2");
  const std::string report =
      " -o \"/var/spool/storage/SD_DISK/Trelvik_root2/20261202_12_22_02/Server_Report.txt\""
      " 'http://127.0.0.2/zurn-cgi/serverreport.cgi?root=2'";
  EXPECT_EQ(sysutil_redact("curl -sS -u \"root\":\"root\"" + report), "curl -sS -u \"root\":\"***\"" + report);
  EXPECT_EQ(sysutil_redact("curl -sS -u \"root\":\"2\"" + report), "curl -sS -u \"root\":\"***\"" + report);
  EXPECT_EQ(sysutil_redact("curl -u 'r:2':'2' -u \"a b\":\"2\" x-u 2:2 -u 2"),
            "curl -u 'r:2':'***' -u \"a b\":\"***\" x-u 2:2 -u 2");
  EXPECT_EQ(sysutil_redact("date 2 root"), "date 2 root");
  test::clear_log();
  EXPECT_FALSE(qorm_systemf("exit 2 # -u \"root\":\"%s\" -o \"/x/root/2\"", "2"));
  ASSERT_EQ(test::captured_log().size(), 1u);
  EXPECT_EQ(test::captured_log()[0].text, "Exit status '2' for command: exit 2 # -u \"root\":\"***\" -o \"/x/root/2\"");
}

TEST(AtomicFile, ReplacesWholeOrNotAtAll) {
  test::DeviceRoot root;
  const auto target = root.path("/f.txt");
  test::write_file(target, "old");
  ASSERT_TRUE(atomic_replace(target.string(), target.string() + ".tmp", "new\r\n"));
  EXPECT_EQ(test::read_file(target), "new\r\n");
  const std::string missing = root.path("/missing/f.txt").string();
  EXPECT_FALSE(atomic_replace(missing, missing + ".tmp", "x"));
  EXPECT_NE(errno, 0);
  for (const auto& entry : std::filesystem::directory_iterator(root.dir())) {
    EXPECT_FALSE(entry.path().filename().string().starts_with("f.txt."));  // no temporary left
  }
}

}  // namespace
}  // namespace trelvik
