// Archiving a session folder: the background zip beside the folder and the
// checks around it.
#pragma once

#include <string>

namespace trelvik {

// Starts the background zip of a session folder beside itself: 0 when a run
// for this folder is already going on, 1 otherwise (started or refused with a
// log line). The working directory is unchanged afterwards.
int zip_session(const char* path);
// True while a zip process for the folder's last component runs.
bool is_zipping_session(const char* path);
// True when `archive` is a whole zip file: it ends with the end record
// ("PK\5\6") that zip writes last.
bool is_whole_archive(const std::string& archive);
// True for an existing session folder on the internal or an edge storage.
bool is_monitory_dir(const char* path);

}  // namespace trelvik
