#include "daemon/kernel_memory.hpp"

#include <syslog.h>

#include <cerrno>
#include <cstdio>

#include "lib/base/fileutil.hpp"
#include "lib/base/log.hpp"
#include "lib/base/pipe.hpp"
#include "lib/base/shell_quote.hpp"
#include "lib/names/device_paths.hpp"
#include "lib/names/session_layout.hpp"
#include "lib/session/csv_file.hpp"

namespace trelvik {
namespace {

constexpr const char* kZoneNames[kBuddyZones] = {"DMA", "DMA32", "Normal", "HighMem", "Total"};
// A 64-bit counter has at most 20 digits; 19 keep the text within the
// 20-byte field the row was designed around.
constexpr std::size_t kMaxCounterDigits = 19;

std::string kernel_file(const char* session_path, const char* name) {
  return session_layout::sampling_folder(session_path, session_layout::kKernel) + "/" + name;
}

}  // namespace

std::string buddyinfo_header(int highestfield) {
  std::string header = "ZONE,DATE,TIME";
  for (int order = 0; order <= highestfield; ++order) {
    header += "," + std::to_string(4LL << order) + " kB";
  }
  return header + "\n";
}

std::string buddyinfo_rows(const BuddyInfo& info, std::string_view timestamp) {
  std::string rows;
  for (int zone = 0; zone < kBuddyZones; ++zone) {
    rows += kZoneNames[zone];
    rows += ",";
    rows += timestamp;
    for (int order = 0; order <= info.highestfield; ++order) rows += "," + std::to_string(info.pages[zone][order]);
    rows += "\n";
  }
  return rows;
}

std::string vmstat_get_val(const char* field) {
  syslog(LOG_DEBUG, "Getting vmstat val for %s", field);
  const std::string command = "grep \"" + shell_escape_double(field) + "\" " + shell_word(device::proc("vmstat"));
  ReadPipe pipe(command);
  if (!pipe.is_open()) FATAL_POPEN(command.c_str());
  std::string line;
  if (!pipe.read_line(line)) {
    LOG_ERROR("fgets returned null reading output of %s", command.c_str());
    return {};
  }
  pipe.close();
  const auto digits = parse_vmstat_line(line, kMaxCounterDigits);
  if (!digits) {
    syslog(LOG_DEBUG, "No whitespace found in output of command '%s'", command.c_str());
    return {};
  }
  return *digits;
}

void create_pagefault_snapshot(const char* session_path) {
  const std::string timestamp = csv_timestamp();
  CsvFile file(kernel_file(session_path, "pagefaults.csv"));
  if (!file.is_open()) return;
  if (file.is_new()) file.put("DATE,TIME,MINOR_FAULTS,MAJOR_FAULTS\n");
  const std::string minor = vmstat_get_val("pgfault");
  const std::string major = vmstat_get_val("pgmajfault");
  file.put(timestamp + "," + minor + "," + major + "\n");
}

void create_buddyinfo_snapshot(const char* session_path) {
  File source(device::proc("buddyinfo").c_str(), "r");
  if (!source.is_open()) return;
  BuddyInfo info;
  std::string line;
  while (source.read_line(line)) parse_buddyinfo_line(line, info);
  // A read that failed part way would give a snapshot with zones missing.
  if (!source.close()) return;

  const std::string timestamp = csv_timestamp();
  CsvFile file(kernel_file(session_path, "buddyinfo.csv"));
  if (!file.is_open()) return;
  if (file.is_new()) file.put(buddyinfo_header(info.highestfield));
  file.put(buddyinfo_rows(info, timestamp));
}

}  // namespace trelvik
