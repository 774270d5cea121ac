#include "lib/names/session_layout.hpp"

namespace trelvik::session_layout {

std::string application_folder(std::string_view storage, std::string_view serial_number) {
  std::string path(storage);
  path += "/Trelvik_";
  path += serial_number;
  return path;
}

std::string sampling_folder(std::string_view session, const char* folder) {
  std::string path(session);
  path += '/';
  path += kSampling;
  path += '/';
  path += folder;
  return path;
}

std::string session_file(std::string_view session, const char* name) {
  std::string path(session);
  path += '/';
  path += name;
  return path;
}

std::string archive(std::string_view session) { return std::string(session) + kArchiveSuffix; }

}  // namespace trelvik::session_layout
