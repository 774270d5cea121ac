#include "lib/device_paths.hpp"

#include <cstdlib>

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
std::string storage_root() { return path(kStorageRoot); }
std::string media_conf() { return path("/etc/ws/onvif/media/media.conf"); }
std::string radar_dir() { return path("/tmp/radar-diagnostics"); }
std::string proc(std::string_view name) { return path("/proc/").append(name); }
std::string var_log(std::string_view name) { return path("/var/log/").append(name); }

std::string curl() { return path("/usr/bin/curl"); }
std::string df() { return path("/bin/df"); }
std::string tail() { return path("/usr/bin/tail"); }

}  // namespace trelvik::device
