#include "tests/unit/support/test_support.hpp"

#include <gtest/gtest.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace trelvik::test {

DeviceRoot::DeviceRoot() {
  if (const char* old = std::getenv("TRELVIK_DEVICE_ROOT")) {
    previous_ = old;
    had_previous_ = true;
  }
  std::string pattern = (std::filesystem::temp_directory_path() / "trelvik-unit-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  dir_ = pattern;
  setenv("TRELVIK_DEVICE_ROOT", dir_.c_str(), 1);
  std::filesystem::create_directories(path("/usr/local/packages/Trelvik/localdata"));
}

DeviceRoot::~DeviceRoot() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
  if (had_previous_) {
    setenv("TRELVIK_DEVICE_ROOT", previous_.c_str(), 1);
  } else {
    unsetenv("TRELVIK_DEVICE_ROOT");
  }
}

std::filesystem::path DeviceRoot::path(const std::string& absolute) const { return dir_.string() + absolute; }

void DeviceRoot::write(const std::string& absolute, const std::string& text) const {
  const auto target = path(absolute);
  std::filesystem::create_directories(target.parent_path());
  write_file(target, text);
}

std::string DeviceRoot::read(const std::string& absolute) const { return read_file(path(absolute)); }

std::vector<LogLine>& captured_log() {
  static std::vector<LogLine> lines;
  return lines;
}

void clear_log() { captured_log().clear(); }

bool logged(int level, const std::string& part) {
  for (const auto& line : captured_log()) {
    if (line.level == level && line.text.find(part) != std::string::npos) return true;
  }
  return false;
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_file(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string fixture(const std::string& name) {
  const char* dir = std::getenv("TRELVIK_FIXTURES");
  return read_file(std::filesystem::path(dir != nullptr ? dir : TRELVIK_FIXTURES) / name);
}

namespace {

// Every test runs in a fresh working folder of its own, removed after it: a
// test whose command escaped its quoting leaves its canary files there, not
// in the build tree, where every later run would find them.
class OwnWorkingFolder : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override {
    std::error_code error;
    previous_ = std::filesystem::current_path(error);
    std::string pattern = (std::filesystem::temp_directory_path() / "trelvik-cwd-XXXXXX").string();
    if (error || mkdtemp(pattern.data()) == nullptr) std::abort();
    folder_ = pattern;
    std::filesystem::current_path(folder_, error);
    if (error) std::abort();
  }
  void OnTestEnd(const ::testing::TestInfo&) override {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(folder_, ignored);
  }

  std::filesystem::path previous_;
  std::filesystem::path folder_;
};

[[maybe_unused]] const bool kOwnWorkingFolders =
    (::testing::UnitTest::GetInstance()->listeners().Append(new OwnWorkingFolder), true);

}  // namespace

}  // namespace trelvik::test

// The unit tests keep the log in memory; nothing reaches the host's log.
namespace {
void capture(int priority, const char* format, va_list args) {
  const int saved = errno;
  char* text = nullptr;
  if (vasprintf(&text, format, args) >= 0) {
    trelvik::test::captured_log().push_back({priority & 7, text});
    std::free(text);
  }
  errno = saved;
}
}  // namespace

extern "C" {
void openlog(const char*, int, int) {}
void closelog() {}
void vsyslog(int priority, const char* format, va_list args) { capture(priority, format, args); }
void syslog(int priority, const char* format, ...) {
  va_list args;
  va_start(args, format);
  capture(priority, format, args);
  va_end(args);
}
// glibc's fortified builds call these in place of syslog and vsyslog; libc's
// names are reserved by nature.
// NOLINTNEXTLINE(bugprone-reserved-identifier)
void __vsyslog_chk(int priority, int, const char* format, va_list args) { capture(priority, format, args); }
// NOLINTNEXTLINE(bugprone-reserved-identifier)
void __syslog_chk(int priority, int, const char* format, ...) {
  va_list args;
  va_start(args, format);
  capture(priority, format, args);
  va_end(args);
}
}
