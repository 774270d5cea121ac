// File-system toolbox: path tests, removal and renaming with uniform logging,
// GLib-backed copy and whole-file I/O, size texts, recursive folders and the
// partition usage check.
#pragma once

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace trelvik {

// Path exists (links followed) and is a directory / a regular file.
bool is_directory(const char* path);
bool is_file(const char* path);
// Removes a file or an empty folder; false with a debug line on failure.
bool file_remove(const char* path);
// Renames, replacing an existing target; false with a debug line on failure.
bool file_rename(const char* oldname, const char* newname);

// Access checks for the calling process; nothing logged, false for null.
bool is_readable(const char* filename);
bool is_writable(const char* filename);
bool is_executable(const char* filename);

// Size in bytes from the file's status (links followed); -1 with an error
// line when it cannot be had.
std::int64_t filesize(const char* path);
// "<number> <unit>" in units of 1024, rounded down, each boundary inclusive
// ("1024 B", "1 KiB"). A text that does not fit `buffer_size` is fatal.
void suffix_bytes(char* buffer, std::size_t buffer_size, std::int64_t file_size);
// suffix_bytes of filesize(path): "-1 B" for a file whose size is unknown.
void filesize_human_readable(char* buffer, std::size_t buffer_size, const char* path);

// The whole file (read_text_file), or "" when it cannot be read: for kernel
// files whose missing lines leave their fields empty.
std::string read_or_empty(const std::string& path);

// Creates the file or truncates it to 0 bytes; false (silently) when it
// cannot be opened for writing.
bool empty_file_if_possible(const char* path);
// Copies one file; an existing destination (a link included) is not
// overwritten, its folder is reached without links and the copy gets default
// permissions. False with a warning naming the reason.
bool file_copy(const char* src, const char* dest);
// The same, but an existing regular destination is overwritten (never a link).
bool file_copy_over(const char* src, const char* dest);
// The whole file, or nothing with a warning naming GLib's reason.
std::optional<std::string> file_get_contents(const char* path);
// Replaces the file with `contents` (up to its terminating zero); false with a
// warning naming GLib's reason.
bool file_put_string(const char* path, const char* contents);

// Removes the tree under `dir_path` and the folder itself; returns how many
// entries went. Symbolic links inside the tree are removed, never followed.
// Entries that cannot be removed are skipped with a debug line.
unsigned dir_remove_recursive(const char* dir_path);
// Creates every missing folder of an absolute path that ends before a "/"
// ("/a/b/c/" makes /a, /a/b and /a/b/c; "/a/b/c" only /a and /a/b). False
// with an error line for a relative path or a folder that cannot be made.
bool dir_make_recursive(const char* dir_path);

// Used share of the partition holding `storage_path` in percent (0 to 999)
// from df's POSIX output; 0 when df prints no partition line; -1 with an error
// line for a path that is not absolute, a df that cannot be started or prints
// nothing.
int get_storage_use_pcent(const char* storage_path);
// True when the partition holding `storage_path` is below 90 % used; false
// with a warning when its usage cannot be had.
bool check_partition_usage(const char* storage_path);

}  // namespace trelvik
