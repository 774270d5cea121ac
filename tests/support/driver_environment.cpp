// Test driver: the environment collectors and the device API client on the
// command line, so that black-box tests can run them against the emulated
// camera (real dbus-send, real curl). The API password is read from standard
// input, as the programs read it.
//
//   driver_environment init <user>
//       discovers the settings and prints them ("sensors=..", "S<i>=<name>")
//   driver_environment sample <user> <environment folder> <self folder> [rounds]
//       discovers, then runs the four collectors `rounds` times (default 1)
//   driver_environment nemor-get <user> <path>
//       prints the response body; the exit status is curl's
//   driver_environment nemor-download <user> <path> <dest>
//       prints 1 when the download succeeded, else 0
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "lib/base/log.hpp"
#include "lib/base/sysutil.hpp"
#include "lib/collect/environment.hpp"
#include "lib/device/nemor.hpp"

namespace {

using namespace trelvik;

int usage(const char* program) {
  std::fprintf(stderr,
               "Usage: %s init <user> | sample <user> <env dir> <self dir> [rounds] | nemor-get <user> <path> | "
               "nemor-download <user> <path> <dest>\n",
               program);
  return 2;
}

void print_settings() {
  const EnvironmentSettings& settings = environment_settings();
  std::printf("sensors=%d heaters=%d fans=%d\n", settings.number_of_temperature_sensors, settings.number_of_heaters,
              settings.number_of_fans);
  for (int i = 0; i < kMaxTemperatureSensors; ++i) {
    const std::string& name = settings.temperature_sensor_names[static_cast<std::size_t>(i)];
    if (!name.empty()) std::printf("S%d=%s\n", i, name.c_str());
  }
}

int sample(const char* user, const std::string& password, const char* env_dir, const char* self_dir, int rounds) {
  init_environment_monitor_settings(user, password.c_str());
  for (int round = 0; round < rounds; ++round) {
    store_temperatures_celsius(env_dir);
    store_heater_status(env_dir);
    store_fan_status(env_dir);
    store_self_monitoring(self_dir);
  }
  return 0;
}

int nemor_get_body(const char* user, const std::string& password, const char* path) {
  ReadPipe pipe = nemor_get(user, password.c_str(), path);
  if (!pipe.is_open()) return 3;
  std::string line;
  while (pipe.read_line(line)) std::fputs(line.c_str(), stdout);
  const int status = pipe.close();
  return WIFEXITED(status) ? WEXITSTATUS(status) : 4;
}

}  // namespace

int main(int argc, char** argv) {
  open_program_log();
  if (argc < 3) return usage(argv[0]);
  const std::string command = argv[1];
  std::string password;
  if (!read_secret_line(stdin, password)) {
    std::fprintf(stderr, "no password on standard input\n");
    return 2;
  }
  if (command == "init" && argc == 3) {
    init_environment_monitor_settings(argv[2], password.c_str());
    print_settings();
    return 0;
  }
  if (command == "sample" && (argc == 5 || argc == 6)) {
    return sample(argv[2], password, argv[3], argv[4], argc == 6 ? std::atoi(argv[5]) : 1);
  }
  if (command == "nemor-get" && argc == 4) return nemor_get_body(argv[2], password, argv[3]);
  if (command == "nemor-download" && argc == 5) {
    std::printf("%d\n", nemor_download(argv[2], password.c_str(), argv[3], argv[4]) ? 1 : 0);
    return 0;
  }
  return usage(argv[0]);
}
