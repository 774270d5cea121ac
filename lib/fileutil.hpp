// File-system toolbox: path tests, removal and renaming with uniform logging,
// GLib-backed copy and whole-file I/O, size texts, recursive folders and the
// partition usage check.
#pragma once

#include <glib.h>

#include <cstddef>
#include <cstdint>

namespace trelvik {

// Path exists (links followed) and is a directory / a regular file.
bool is_directory(const char* path);
bool is_file(const char* path);
// Removes a file or an empty folder; false with a debug line on failure.
bool file_remove(const char* path);
// Renames, replacing an existing target; false with a debug line on failure.
bool file_rename(const char* oldname, const char* newname);

}  // namespace trelvik
