#include "lib/filehandler.hpp"

#include <charconv>

#include "lib/log.hpp"
#include "lib/pipe.hpp"
#include "lib/shell_quote.hpp"

namespace trelvik {
namespace {

ReadPipe open_or_die(const std::string& command) {
  ReadPipe pipe(command);
  if (!pipe.is_open()) FATAL_POPEN(command.c_str());
  return pipe;
}

std::string without_line_end(std::string line) {
  if (!line.empty() && line.back() == '\n') line.pop_back();
  return line;
}

}  // namespace

int ps_grep_and_check_if_included(const char* grep, const char* strstr_string) {
  ReadPipe pipe = open_or_die("ps | grep \"" + shell_escape_double(grep) + "\"");
  std::string line;
  while (pipe.read_line(line)) {
    if (line.find(strstr_string) != std::string::npos) return 1;
  }
  return 0;
}

std::uint64_t parse_du_kib(const std::string& last_line) {
  long long kib = 0;
  const char* begin = last_line.data();
  const auto [end, error] = std::from_chars(begin, begin + last_line.size(), kib);
  if (error != std::errc() || end == begin || kib < 0) return 0;
  return static_cast<std::uint64_t>(kib) * 1024;
}

std::uint64_t get_dir_size_bytes(const char* path) {
  ReadPipe pipe = open_or_die("du -bks \"" + shell_escape_double(path) + "\"");
  std::string line, last;
  while (pipe.read_line(line)) last = line;
  pipe.close();
  return parse_du_kib(last);
}

std::string get_names_listed_from_directory(const char* path, std::size_t size) {
  ReadPipe pipe = open_or_die("ls \"" + shell_escape_double(path) + "\"");
  const std::size_t limit = size == 0 ? 0 : size - 1;
  std::string names, line;
  while (names.size() < limit && pipe.read_line(line)) {
    if (!names.empty()) names += ',';
    names += without_line_end(line);
  }
  if (names.size() > limit) names.resize(limit);
  return names;
}

}  // namespace trelvik
