// Media configuration snapshot: a dated copy of the device's ONVIF media
// configuration in the session's "monitoring_onvif" folder.
#pragma once

namespace trelvik {

// Copies the media configuration to "<%Y%m%d_%H%M%S>_media.conf". A missing
// configuration is a debug line; a failed copy (an existing destination is
// never overwritten) is logged by the copy.
void onvif_copy_media_conf(const char* session_path);

}  // namespace trelvik
