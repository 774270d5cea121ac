// PTZ preset movement tracker: the body of the daemon's second thread.
#pragma once

#include <glib.h>

namespace trelvik {

// Thread body: logs every movement to and arrival at a preset until the
// device's signal monitor ends. Returns null.
gpointer ptz_loop(gpointer unused);

}  // namespace trelvik
