#include "lib/names/device_paths.hpp"

#include <cctype>
#include <cstdlib>
#include <filesystem>

namespace trelvik::device {

std::string root() {
  const char* value = std::getenv("TRELVIK_DEVICE_ROOT");
  if (value == nullptr) return {};
  std::string text(value);
  // A trailing "/" would double the separator in every path.
  while (!text.empty() && text.back() == '/') text.pop_back();
  return text;
}

std::string path(std::string_view absolute) {
  std::string full = root();
  full += absolute;
  return full;
}

std::string packages_dir() { return path(kPackagesDir); }
std::string package_dir() { return path("/usr/local/packages/Trelvik/"); }
std::string localdata_dir() { return path(kLocaldataDir); }
std::string shell_dir() { return path("/usr/local/packages/Trelvik/shell/"); }
std::string shell_script(std::string_view name) { return shell_dir().append(name); }
std::string state_file() { return localdata_dir() + "current_monitoring_session.txt"; }
std::string ptz_interval_file() { return localdata_dir() + "automatic_PTZ_test_interval.info"; }
std::string ptz_times_file() { return localdata_dir() + "automatic_PTZ_test_times.info"; }
std::string device_config_file() { return localdata_dir() + "device.conf"; }
std::string api_password_file() { return localdata_dir() + "api_password"; }
std::string own_executable() { return "/proc/self/exe"; }

std::string shell() { return "/bin/sh"; }
std::string etc_timezone() { return path("/etc/timezone"); }
std::string etc_localtime() { return path("/etc/localtime"); }
std::string host_zoneinfo_dir() {
  const char* dir = std::getenv("TZDIR");
  if (dir == nullptr || *dir == '\0') return "/usr/share/zoneinfo/";
  std::string text(dir);
  if (text.back() != '/') text += '/';
  return text;
}
std::string storage_root() { return path(kStorageRoot); }
std::string media_conf() { return path("/etc/ws/onvif/media/media.conf"); }
std::string radar_dir() { return path("/tmp/radar-diagnostics"); }
std::string proc(std::string_view name) { return path("/proc/").append(name); }
std::string var_log(std::string_view name) { return path("/var/log/").append(name); }
std::string sys_class(std::string_view name) { return path("/sys/class/").append(name); }

std::string processes_dir() {
  std::string rooted = proc("");  // not const: returned by move
  if (root().empty()) return rooted;
  std::error_code error;
  for (std::filesystem::directory_iterator it(rooted, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (!name.empty() && std::isdigit(static_cast<unsigned char>(name[0]))) return rooted;
  }
  return "/proc/";
}

std::string curl() { return path("/usr/bin/curl"); }
std::string df() { return path("/bin/df"); }
std::string tail() { return path("/usr/bin/tail"); }

}  // namespace trelvik::device
