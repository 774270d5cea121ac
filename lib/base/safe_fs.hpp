// Reaching files and folders on a storage that is not trusted (an edge
// storage, the session folders) without ever following a symbolic link. The
// trusted part of a path (a storage's mount point, the package's data
// folder; for any other path the folder that holds it) is opened as it is;
// every name below it is opened from its folder's descriptor with
// O_NOFOLLOW, and files are judged by fstat on the open descriptor, never by
// a look-up of the name that a swap could change in between. A link found
// where a file or folder belongs is logged once at error level with its path;
// the call then fails with errno ELOOP, as an unwritable file fails.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "lib/base/descriptor.hpp"

namespace trelvik::safe_fs {

// What these functions open: a descriptor closed when it goes out of scope.
using Fd = Descriptor;

// "<folder>" and "<name>" of a path ("/a/b/c" and "/a/b/c/" -> "/a/b", "c").
std::pair<std::string, std::string> split(const std::string& path);

// The folder, reached without links. Invalid, with errno, when it cannot be;
// `log_links` false leaves a link found on the way unlogged (a caller that
// logs its own line for what it skips).
Fd open_folder(const std::string& folder, bool log_links = true);
// The file, opened with `flags` (O_NOFOLLOW and O_CLOEXEC added; `mode` for
// O_CREAT) in its folder reached without links. Anything but a regular file
// is refused (errno ELOOP for a link, EINVAL otherwise).
Fd open_file(const std::string& path, int flags, mode_t mode = 0644);
// The same name in a folder already open.
Fd open_file_at(int folder, const std::string& name, const std::string& path_for_log, int flags, mode_t mode = 0644);

// For what a page polls (the tail, the metrics): read-only opens that log
// nothing, since a planted link would repeat its line at every poll. A link,
// or an entry of the wrong kind, gives an invalid descriptor.
// The folder `path`, whose last name is never followed, even where the head
// of the path is trusted.
Fd peek_folder(const std::string& path);
Fd peek_folder_at(int folder, const std::string& name);
Fd peek_file_at(int folder, const std::string& name);

// Up to `size` bytes of an open file from `offset`; fewer at its end or on a
// read error.
std::string read_at(int fd, off_t offset, std::size_t size);
// The last `limit` bytes of an open regular file; `whole` tells whether they
// begin at its start. Nothing when its size cannot be had.
std::optional<std::string> read_end(int fd, std::size_t limit, bool& whole);

// Removes `name` from `folder` when it is still the open file `fd` and that
// is empty; true when it did.
bool remove_if_empty_at(int folder, const std::string& name, int fd);

// The whole regular file. False with errno (ENOENT for a missing file).
bool read_file(const std::string& path, std::string& text);
// A real folder / a regular file, reached without links; nothing logged.
bool is_folder(const std::string& path);
bool is_regular_file(const std::string& path);
// The names in a folder reached without links, in the folder's own order;
// none when it cannot be opened. Nothing logged.
std::vector<std::string> folder_entries(const std::string& folder);

// Logs the one error line of a link found where a file or a folder belongs.
void log_link(std::string_view path);

}  // namespace trelvik::safe_fs
