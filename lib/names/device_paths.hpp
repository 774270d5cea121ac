// The one owner of every absolute device path and tool path. When
// TRELVIK_DEVICE_ROOT is set (the emulated camera), each path resolves under
// that folder; unset, the device's real paths are used. No other source
// spells a device path.
#pragma once

#include <string>
#include <string_view>

namespace trelvik::device {

// The device root ("" on the device itself), read from the environment.
std::string root();
// `absolute` (beginning with "/") placed under the device root.
std::string path(std::string_view absolute);

// Device views (without the device root) of the two storage folders, for
// limits that the device applies to the paths as it sees them.
inline constexpr const char* kLocaldataDir = "/usr/local/packages/Trelvik/localdata/";
inline constexpr const char* kStorageRoot = "/var/spool/storage/";
// The installed packages' folder as the device's command lines show it.
inline constexpr std::string_view kPackagesDir = "/usr/local/packages/";

// The device-local web server that serves the device HTTP API.
inline constexpr std::string_view kApiAddress = "127.0.0.12";

std::string packages_dir();   // "/usr/local/packages/", one folder per installed package
std::string package_dir();    // "/usr/local/packages/Trelvik/"
std::string localdata_dir();  // package's private data folder, ends in "/"
std::string shell_dir();      // package's scripts folder, ends in "/"
std::string shell_script(std::string_view name);
std::string state_file();         // localdata "current_monitoring_session.txt"
std::string ptz_interval_file();  // localdata "automatic_PTZ_test_interval.info"
std::string ptz_times_file();     // localdata "automatic_PTZ_test_times.info"
// The device facts the web entry program hands to the actions (written by the
// package's installation), and the device API password, readable only by the
// user the web server runs CGI programs as.
std::string device_config_file();              // localdata "device.conf"
std::string api_password_file();               // localdata "api_password"
std::string storage_root();                    // "/var/spool/storage/"
std::string media_conf();                      // "/etc/ws/onvif/media/media.conf"
std::string radar_dir();                       // "/tmp/radar-diagnostics"
std::string proc(std::string_view name);       // "/proc/" + name
std::string var_log(std::string_view name);    // "/var/log/" + name
std::string sys_class(std::string_view name);  // "/sys/class/" + name
// The folder that holds one folder per process ("/proc/"). An emulated
// device root links the running system's kernel files, so it shows the
// running system's processes unless a test laid out process folders of its
// own in the root's "/proc/".
std::string processes_dir();

// The device's time zone: the name file Debian-style systems keep, and the
// link whose target lies in the zone database ("/usr/share/zoneinfo/<name>").
std::string etc_timezone();   // "/etc/timezone"
std::string etc_localtime();  // "/etc/localtime"
// The time zone database of the machine the program runs on (the export
// runs on a workstation): $TZDIR as the C library reads it, or its default.
// Not under the device root. Ends in "/".
std::string host_zoneinfo_dir();  // "/usr/share/zoneinfo/"

// The running program's own executable (not under the device root: it is
// this process's view, not the device's); the actions sit beside it.
std::string own_executable();  // "/proc/self/exe"

// The shell that runs the command lines which are pipelines or need the
// shell: the system's own, as the C library's command runners used (not
// under the device root).
std::string shell();  // "/bin/sh"

// Tools the command lines call by absolute path.
std::string curl();  // "/usr/bin/curl"
std::string df();    // "/bin/df"
std::string tail();  // "/usr/bin/tail"

}  // namespace trelvik::device
