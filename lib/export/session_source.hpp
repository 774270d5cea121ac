// A session to read, as its archive or its folder: the files below the
// session folder and a streaming read of each. The archive is read with
// libzip, entry by entry, so a week of session text never sits in memory.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace trelvik {

class SessionSource {
 public:
  virtual ~SessionSource() = default;

  // The session folder's name ("20261206_18_48_53").
  const std::string& name() const { return name_; }
  // The regular files, relative to the session folder, sorted.
  const std::vector<std::string>& files() const { return files_; }

  // Hands the file's bytes to `sink` in pieces until the end or until the
  // sink answers false. False, with `error` set, when the file cannot be read
  // whole (a damaged entry, a checksum that does not match).
  using Sink = std::function<bool(std::string_view)>;
  virtual bool read(const std::string& file, const Sink& sink, std::string& error) = 0;

 protected:
  std::string name_;
  std::vector<std::string> files_;
};

enum class SourceStatus { ok, unreadable, damaged, not_a_session };

// The archive ("….zip") or folder at `path`. A session has its information
// file directly in its folder (in the archive, in its one top folder).
// Nothing, with `status` and `error` set, otherwise.
std::unique_ptr<SessionSource> open_session_source(const std::string& path, SourceStatus& status, std::string& error);

}  // namespace trelvik
