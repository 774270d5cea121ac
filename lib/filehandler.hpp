// Session-folder work: the process helpers the collectors and the archiver
// rely on; later the CSV collectors, snapshots and information file updates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace trelvik {

// 1 when a line of "ps | grep "<grep>"" contains `strstr_string`, else 0. The
// grep process itself shows the search word, so callers look for a second
// word that only the process they mean carries. A pipe that cannot be started
// is fatal.
int ps_grep_and_check_if_included(const char* grep, const char* strstr_string);

// Size of the folder from "du -bks", in bytes (a multiple of 1024); 0 when it
// cannot be read. A pipe that cannot be started is fatal.
std::uint64_t get_dir_size_bytes(const char* path);
// The number at the start of du's last line times 1024; 0 without one.
std::uint64_t parse_du_kib(const std::string& last_line);

// The folder's entry names in ls order joined by ",", at most size - 1
// characters (a name that does not fit whole is cut). A pipe that cannot be
// started is fatal.
std::string get_names_listed_from_directory(const char* path, std::size_t size);

}  // namespace trelvik
