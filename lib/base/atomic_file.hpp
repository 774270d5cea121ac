// The one atomic-replace helper for every file the system rewrites: readers
// and a power loss see either the old or the new content, never a mix.
#pragma once

#include <string>
#include <string_view>

#include "lib/base/descriptor.hpp"

namespace trelvik {

// Writes `contents` to `temporary` (made afresh, in the same folder as
// `path`), syncs it, renames it over `path` and syncs the folder. Each file
// has one fixed temporary name, so a crash leaves at most that one leftover,
// which the next replace removes before it writes anew; the callers' locks
// keep two writers of the same name apart. An existing `path` that the
// process may not write is refused, as a truncating open would refuse it, and
// so is a link at `path` (logged); the folder is reached without links.
// False on any failure (errno tells why); the temporary file is then gone and
// the old `path` untouched. Logs nothing: the caller logs its own line.
bool atomic_replace(const std::string& path, const std::string& temporary, std::string_view contents);

// Puts a file or a folder (its entries) on the storage: fsync. False, with
// errno, when it cannot be opened or synced.
bool sync_path(const std::string& path);

// An advisory flock held for the object's life. A file system that refuses
// flock leaves the holder unlocked: callers go on all the same. With
// Wait::no a lock that another holds is not waited for: busy() says so.
class FileLock {
 public:
  enum class Wait { yes, no };
  explicit FileLock(const std::string& path, Wait wait = Wait::yes) noexcept;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool locked() const noexcept { return locked_; }
  bool busy() const noexcept { return busy_; }

 private:
  Descriptor fd_;  // closing it releases the lock
  bool locked_ = false;
  bool busy_ = false;
};

}  // namespace trelvik
