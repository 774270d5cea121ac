#include "daemon/kernel_memory.hpp"

#include <syslog.h>

#include <cerrno>
#include <cstdio>

#include "lib/csv_file.hpp"
#include "lib/dateutil.hpp"
#include "lib/device_paths.hpp"
#include "lib/fileutil.hpp"
#include "lib/log.hpp"
#include "lib/pipe.hpp"
#include "lib/shell_quote.hpp"

namespace trelvik {
namespace {

constexpr const char* kZoneNames[kBuddyZones] = {"DMA", "DMA32", "Normal", "HighMem", "Total"};
constexpr int kTotalRow = 4;
// Far beyond any real free-block count; a longer run is held at this value.
constexpr std::int64_t kMaxCount = 9'999'999'999;
// A 64-bit counter has at most 20 digits; 19 keep the text within the
// 20-byte field the row was designed around.
constexpr std::size_t kMaxCounterDigits = 19;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The zone row of a line and where its counts begin; none for other zones.
std::optional<std::pair<int, std::size_t>> find_zone(std::string_view line) {
  if (const std::size_t at = line.find("DMA32"); at != std::string_view::npos) return std::pair{1, at + 5};
  // Scanning starts inside the name, which holds no digits.
  if (const std::size_t at = line.find("DMA"); at != std::string_view::npos) return std::pair{0, at + 1};
  if (const std::size_t at = line.find("Normal"); at != std::string_view::npos) return std::pair{2, at + 1};
  if (const std::size_t at = line.find("HighMem"); at != std::string_view::npos) return std::pair{3, at + 1};
  return std::nullopt;
}

std::int64_t read_count(std::string_view digits) {
  std::int64_t value = 0;
  for (const char c : digits) {
    value = value * 10 + (c - '0');
    if (value > kMaxCount) return kMaxCount;
  }
  return value;
}

std::string kernel_file(const char* session_path, const char* name) {
  return std::string(session_path) + "/system_monitoring/monitoring_kernel/" + name;
}

std::string now_text() {
  char timestamp[40] = {};
  date_format_now(timestamp, sizeof timestamp, "%Y-%m-%d,%H:%M:%S");
  return timestamp;
}


}  // namespace

void parse_buddyinfo_line(std::string_view line, BuddyInfo& info) {
  const auto zone = find_zone(line);
  if (!zone) return;
  const auto [row, start] = *zone;
  int order = 0;
  std::size_t run = std::string_view::npos;
  for (std::size_t i = start; i < line.size(); ++i) {
    if (is_digit(line[i])) {
      if (run == std::string_view::npos) run = i;
      continue;
    }
    if (run == std::string_view::npos) continue;
    // A run counts only once a non-digit closes it: the line feed closes the last.
    if (order < kBuddyOrders) {
      const std::int64_t count = read_count(line.substr(run, i - run));
      info.pages[row][order] = count;
      info.pages[kTotalRow][order] += count;
      if (order > info.highestfield) info.highestfield = order;
    }
    ++order;
    run = std::string_view::npos;
  }
}

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

std::optional<std::string> parse_vmstat_line(std::string_view line, std::size_t max_digits) {
  const std::size_t blank = line.find(' ');
  if (blank == std::string_view::npos) return std::nullopt;
  std::string digits;
  for (std::size_t i = blank + 1; i < line.size() && digits.size() < max_digits && is_digit(line[i]); ++i) {
    digits += line[i];
  }
  return digits;
}

std::string vmstat_get_val(const char* field) {
  syslog(LOG_DEBUG, "Getting vmstat val for %s", field);
  const std::string command =
      "grep \"" + shell_escape_double(field) + "\" " + shell_word(device::proc("vmstat"));
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
  const std::string timestamp = now_text();
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

  const std::string timestamp = now_text();
  CsvFile file(kernel_file(session_path, "buddyinfo.csv"));
  if (!file.is_open()) return;
  if (file.is_new()) file.put(buddyinfo_header(info.highestfield));
  file.put(buddyinfo_rows(info, timestamp));
}

}  // namespace trelvik
