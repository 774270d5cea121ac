// Shared pieces of the unit tests: a temporary device root and a captured
// system log.
#pragma once

#include <syslog.h>
#include <filesystem>
#include <string>

#include <vector>

namespace trelvik::test {

// A fresh folder set as TRELVIK_DEVICE_ROOT for the life of the object; the
// previous value comes back and the folder is removed afterwards.
class DeviceRoot {
 public:
  DeviceRoot();
  ~DeviceRoot();
  DeviceRoot(const DeviceRoot&) = delete;
  DeviceRoot& operator=(const DeviceRoot&) = delete;

  const std::filesystem::path& dir() const { return dir_; }
  // A device path (beginning with "/") inside the root.
  std::filesystem::path path(const std::string& absolute) const;
  // Writes a file at a device path, creating its folders.
  void write(const std::string& absolute, const std::string& text) const;
  std::string read(const std::string& absolute) const;

 private:
  std::filesystem::path dir_;
  std::string previous_;
  bool had_previous_ = false;
};

struct LogLine {
  int level;
  std::string text;
};

// Every syslog line of the test program goes here instead of the system log
// (the test support interposes syslog).
std::vector<LogLine>& captured_log();
void clear_log();
// True when a captured line at `level` contains `part`.
bool logged(int level, const std::string& part);

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::string& text);
std::string fixture(const std::string& name);

}  // namespace trelvik::test
