#include "lib/export/session_source.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>

#include "lib/names/session_layout.hpp"

namespace trelvik {

namespace {

constexpr std::size_t kChunk = 1 << 16;

std::string base_name(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path.substr(path.rfind('/') + 1);
}

class ArchiveSource final : public SessionSource {
 public:
  ArchiveSource(zip_t* archive, std::string name, std::map<std::string, zip_uint64_t> entries)
      : archive_(archive), entries_(std::move(entries)) {
    name_ = std::move(name);
    for (const auto& [file, index] : entries_) files_.push_back(file);
  }
  ~ArchiveSource() override { zip_discard(archive_); }

  bool read(const std::string& file, const Sink& sink, std::string& error) override {
    const auto entry = entries_.find(file);
    zip_file_t* in = entry == entries_.end() ? nullptr : zip_fopen_index(archive_, entry->second, 0);
    if (in == nullptr) {
      error = zip_strerror(archive_);
      return false;
    }
    std::string buffer(kChunk, '\0');
    zip_int64_t got = 0;
    bool wanted = true;
    while (wanted && (got = zip_fread(in, buffer.data(), buffer.size())) > 0) {
      wanted = sink(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
    }
    if (got < 0) error = zip_file_strerror(in);
    // The checksum is checked at the entry's end: a read that stopped early
    // has nothing to check.
    const int closed = zip_fclose(in);
    if (got < 0 || (wanted && closed != 0)) {
      if (error.empty()) error = zip_error_strerror(zip_get_error(archive_));
      return false;
    }
    return true;
  }

 private:
  zip_t* archive_;
  std::map<std::string, zip_uint64_t> entries_;
};

class FolderSource final : public SessionSource {
 public:
  FolderSource(std::string folder, std::vector<std::string> files) : folder_(std::move(folder)) {
    name_ = base_name(folder_);
    files_ = std::move(files);
  }

  bool read(const std::string& file, const Sink& sink, std::string& error) override {
    // A link inside a session is nothing the collectors write: never followed.
    const int fd = ::open((folder_ + "/" + file).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
      error = std::strerror(errno);
      return false;
    }
    std::string buffer(kChunk, '\0');
    ssize_t got = 0;
    bool wanted = true;
    while (wanted && (got = ::read(fd, buffer.data(), buffer.size())) != 0) {
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) break;
      wanted = sink(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
    }
    if (got < 0) error = std::strerror(errno);
    ::close(fd);
    return got >= 0;
  }

 private:
  std::string folder_;
};

// The archive's one top folder: the folder of its information file.
bool archive_entries(zip_t* archive, std::string& top, std::map<std::string, zip_uint64_t>& entries) {
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  std::vector<std::pair<std::string, zip_uint64_t>> all;
  bool found = false;
  for (zip_int64_t i = 0; i < count; ++i) {
    const char* raw = zip_get_name(archive, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
    if (raw == nullptr) continue;
    std::string name(raw);
    const std::string info = session_layout::kInfoFile;
    if (!found && name.ends_with(info) && name.size() > info.size() && name[name.size() - info.size() - 1] == '/' &&
        name.find('/') == name.size() - info.size() - 1) {
      top = name.substr(0, name.size() - info.size());
      found = true;
    }
    all.emplace_back(std::move(name), static_cast<zip_uint64_t>(i));
  }
  if (!found) return false;
  for (auto& [name, index] : all) {
    if (name.starts_with(top) && !name.ends_with('/')) entries.emplace(name.substr(top.size()), index);
  }
  return true;
}

// A file that begins as a zip archive but does not open as one is a damaged
// archive (cut short, overwritten); anything else is no archive at all.
bool starts_as_zip(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char magic[4] = {};
  const bool zip = ::read(fd, magic, sizeof magic) == 4 && std::memcmp(magic, "PK\x03\x04", 4) == 0;
  ::close(fd);
  return zip;
}

std::unique_ptr<SessionSource> open_archive(const std::string& path, SourceStatus& status, std::string& error) {
  int code = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
  if (archive == nullptr) {
    zip_error_t failure;
    zip_error_init_with_code(&failure, code);
    error = zip_error_strerror(&failure);
    zip_error_fini(&failure);
    status = code == ZIP_ER_OPEN || code == ZIP_ER_READ     ? SourceStatus::unreadable
             : code == ZIP_ER_NOZIP && !starts_as_zip(path) ? SourceStatus::not_a_session
                                                            : SourceStatus::damaged;
    return nullptr;
  }
  std::string top;
  std::map<std::string, zip_uint64_t> entries;
  if (!archive_entries(archive, top, entries)) {
    zip_discard(archive);
    status = SourceStatus::not_a_session;
    error = "the archive holds no session folder";
    return nullptr;
  }
  top.pop_back();
  return std::make_unique<ArchiveSource>(archive, top, std::move(entries));
}

std::unique_ptr<SessionSource> open_folder(const std::string& path, SourceStatus& status, std::string& error) {
  struct stat info {};
  if (::lstat(session_layout::session_file(path, session_layout::kInfoFile).c_str(), &info) != 0 ||
      !S_ISREG(info.st_mode)) {
    status = SourceStatus::not_a_session;
    error = "the folder holds no session information file";
    return nullptr;
  }
  std::vector<std::string> files;
  std::error_code failure;
  std::filesystem::recursive_directory_iterator it(path, failure), end;
  for (; !failure && it != end; it.increment(failure)) {
    if (it->is_regular_file(failure) && !it->is_symlink(failure)) {
      files.push_back(it->path().lexically_relative(path).string());
    }
  }
  if (failure) {
    status = SourceStatus::unreadable;
    error = failure.message();
    return nullptr;
  }
  std::sort(files.begin(), files.end());
  return std::make_unique<FolderSource>(path, std::move(files));
}

}  // namespace

std::unique_ptr<SessionSource> open_session_source(const std::string& path, SourceStatus& status, std::string& error) {
  status = SourceStatus::ok;
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    status = SourceStatus::unreadable;
    error = std::strerror(errno);
    return nullptr;
  }
  if (S_ISDIR(info.st_mode)) return open_folder(path, status, error);
  return open_archive(path, status, error);
}

}  // namespace trelvik
