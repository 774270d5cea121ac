// The atomic replace seen from the system calls: fsync and rename(at) are
// interposed in this program, so that their order can be checked and a rename
// can be made to fail.
#include "lib/base/atomic_file.hpp"

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "lib/base/log.hpp"
#include "lib/names/device_paths.hpp"
#include "lib/session/session_globals.hpp"
#include "lib/session/session_info.hpp"
#include "lib/web/ptz_test.hpp"
#include "tests/unit/support/test_support.hpp"

namespace {

// While armed, every fsync and rename is noted ("fsync <path>", "rename <from>
// <to>"); a rename fails with EIO while failing_rename is set.
bool armed = false;
bool failing_rename = false;
std::vector<std::string>& calls() {
  static std::vector<std::string> list;
  return list;
}

std::string path_of(int fd) {
  char link[64];
  char target[PATH_MAX] = {};
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t length = readlink(link, target, sizeof target - 1);
  return length < 0 ? std::string("?") : std::string(target, static_cast<std::size_t>(length));
}

template <typename Function>
Function real(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int fsync(int fd) {
  if (armed) calls().push_back("fsync " + path_of(fd));
  return real<int (*)(int)>("fsync")(fd);
}

extern "C" int rename(const char* from, const char* to) noexcept {
  if (armed) {
    calls().push_back(std::string("rename ") + from + " " + to);
    if (failing_rename) {
      errno = EIO;
      return -1;
    }
  }
  return real<int (*)(const char*, const char*)>("rename")(from, to);
}

// The replace renames inside the folder's descriptor: noted with whole paths.
extern "C" int renameat(int from_folder, const char* from, int to_folder, const char* to) noexcept {
  if (armed) {
    const auto whole = [](int folder, const char* name) {
      return name[0] == '/' || folder == AT_FDCWD ? std::string(name) : path_of(folder) + "/" + name;
    };
    calls().push_back("rename " + whole(from_folder, from) + " " + whole(to_folder, to));
    if (failing_rename) {
      errno = EIO;
      return -1;
    }
  }
  return real<int (*)(int, const char*, int, const char*)>("renameat")(from_folder, from, to_folder, to);
}

namespace trelvik {
namespace {

namespace fs = std::filesystem;

// Notes the calls of one statement.
class Recording {
 public:
  explicit Recording(bool fail_rename = false) {
    calls().clear();
    failing_rename = fail_rename;
    armed = true;
  }
  ~Recording() {
    armed = false;
    failing_rename = false;
  }
  Recording(const Recording&) = delete;
  Recording& operator=(const Recording&) = delete;
};

std::vector<std::string> entries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(AtomicReplace, SyncsTheFileBeforeTheRenameAndTheFolderAfter) {
  test::DeviceRoot root;
  const std::string folder = fs::canonical(root.dir()).string();
  const std::string target = folder + "/f.txt";
  test::write_file(target, "old");
  {
    const Recording recording;
    ASSERT_TRUE(atomic_replace(target, target + ".tmp", "new\n"));
  }
  EXPECT_EQ(calls(), (std::vector<std::string>{"fsync " + target + ".tmp", "rename " + target + ".tmp " + target,
                                               "fsync " + folder}));
  EXPECT_EQ(test::read_file(target), "new\n");
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
}

TEST(AtomicReplace, AFailedRenameKeepsTheOldFileAndLeavesNoTemporary) {
  test::DeviceRoot root;
  const std::string target = root.path("/f.txt").string();
  test::write_file(target, "old");
  {
    const Recording recording(true);
    EXPECT_FALSE(atomic_replace(target, target + ".tmp", "new\n"));
    EXPECT_EQ(errno, EIO);
  }
  EXPECT_EQ(test::read_file(target), "old");
  EXPECT_FALSE(fs::exists(target + ".tmp"));
}

TEST(AtomicReplace, ALeftoverUnderTheKnownNameIsReplacedNeverFollowed) {
  test::DeviceRoot root;
  const std::string target = root.path("/f.txt").string();
  test::write_file(target + ".tmp", std::string(100, 'x'));  // a crash's leftover
  ASSERT_TRUE(atomic_replace(target, target + ".tmp", "new\n"));
  EXPECT_EQ(test::read_file(target), "new\n");
  EXPECT_EQ(entries(root.dir()), (std::vector<std::string>{"f.txt", "usr"}));

  const std::string elsewhere = root.path("/elsewhere").string();
  test::write_file(elsewhere, "keep");
  fs::create_symlink(elsewhere, target + ".tmp");
  ASSERT_TRUE(atomic_replace(target, target + ".tmp", "newer\n"));
  EXPECT_EQ(test::read_file(target), "newer\n");
  EXPECT_EQ(test::read_file(elsewhere), "keep");
  EXPECT_FALSE(fs::is_symlink(target));
}

// Each rewritten file has its one temporary name beside it.
TEST(AtomicReplace, TheWritersUseTheirOwnTemporaryNames) {
  test::DeviceRoot root;
  root.write("/s/Session_Information.txt", "Collected Data Points: 0\r\n");
  const std::string session = fs::canonical(root.path("/s")).string();
  monitoring_session record;
  record.secondary_storage_path = "/x/";
  record.current_activity_folder = "20261206_18_48_53";
  record.monitor_start_time = "t";
  const Recording recording;
  update_number_of_collected_data_points(session.c_str());
  ASSERT_TRUE(monitoring_session_save(&record));
  ASSERT_TRUE(ptz_test_interval_set(180));
  ASSERT_TRUE(ptz_test_given_times_set("08:00"));
  std::vector<std::string> renames;
  for (const auto& call : calls()) {
    if (call.starts_with("rename ")) renames.push_back(call);
  }
  const std::string state = device::state_file();
  const std::string interval = device::ptz_interval_file();
  const std::string times = device::ptz_times_file();
  EXPECT_EQ(renames,
            (std::vector<std::string>{
                "rename " + session + "/Session_Information_tmp_tmp.txt " + session + "/Session_Information.txt",
                "rename " + state + ".tmp " + state,
                "rename " + interval + ".tmp " + interval,
                "rename " + times + ".tmp " + times,
            }));
}

// Root may write any file: the refusal is seen by a child that gives root up.
void become_unprivileged() {
  if (geteuid() != 0) return;
  constexpr uid_t kNobody = 65534;
  if (setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(99);
}

std::string answer_of(void (*action)(const char*, FILE*), const char* argument) {
  char* text = nullptr;
  std::size_t size = 0;
  FILE* out = open_memstream(&text, &size);
  action(argument, out);
  std::fclose(out);
  std::string reply(text, size);
  std::free(text);
  return reply;
}

TEST(AtomicReplace, ATargetThatMayNotBeWrittenIsKept) {
  test::DeviceRoot root;
  // Everybody may write the folders: only the files themselves are protected,
  // which a rename alone would not respect.
  for (const char* folder : {"", "/usr", "/usr/local", "/usr/local/packages", "/usr/local/packages/Trelvik",
                             "/usr/local/packages/Trelvik/localdata"}) {
    fs::permissions(root.path(folder), fs::perms::all);
  }
  const std::string state = device::state_file();
  const std::string interval = device::ptz_interval_file();
  const std::string times = device::ptz_times_file();
  for (const auto& [path, text] :
       {std::pair{state, "SECS:localdata\n"}, std::pair{interval, "T:120\n"}, std::pair{times, "08:00\n"}}) {
    test::write_file(path, text);
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  }
  constexpr const char* kNotStored =
      "Status: 400 Bad Request\r\nPragma: no-cache\r\nCache-Control: no-cache\r\nExpires: -1\r\n"
      "Content-Type: text/plain; charset=utf-8\r\n\r\nError: Could not store the setting.";
  EXPECT_EXIT(
      {
        become_unprivileged();
        test::clear_log();
        monitoring_session record;
        record.secondary_storage_path = "/x/";
        record.current_activity_folder = "20261206_18_48_53";
        record.monitor_start_time = "t";
        bool ok = !atomic_replace(interval, interval + ".tmp", "T:600\n") && errno == EACCES;
        ok = ok && !monitoring_session_save(&record);
        ok = ok && test::logged(LOG_ERR, "Could not open file '" + state + "'");
        ok = ok && answer_of(ptz_autotest_interval_answer, "180") == kNotStored;
        ok = ok && answer_of(ptz_autotest_times_answer, "09:00") == kNotStored;
        ok = ok && test::logged(LOG_ERR, "Could not open file '" + interval + "'");
        ok = ok && test::logged(LOG_ERR, "Could not open file '" + times + "'");
        _exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(test::read_file(state), "SECS:localdata\n");
  EXPECT_EQ(test::read_file(interval), "T:120\n");
  EXPECT_EQ(test::read_file(times), "08:00\n");
  EXPECT_EQ(entries(root.path("/usr/local/packages/Trelvik/localdata")),
            (std::vector<std::string>{"automatic_PTZ_test_interval.info", "automatic_PTZ_test_times.info",
                                      "current_monitoring_session.txt"}));
}

}  // namespace
}  // namespace trelvik
