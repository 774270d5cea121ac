// The application folders of one device on the edge storages: the one walk
// of the storage root that archive recovery and the archive downloads share.
#pragma once

#include <string>
#include <vector>

namespace trelvik {

// "<storage root><storage>/Trelvik_<serial>" for every entry of the storage
// root, in the root's own order, whether or not the folder is there (the
// caller opens each without following a link). None for an empty serial
// number, which names no device.
std::vector<std::string> edge_application_folders(const std::string& serial_number);

}  // namespace trelvik
