#include "daemon_startup.hpp"

namespace trelvik {

gboolean timer_callback(gpointer /*unused*/) { return TRUE; }

}  // namespace trelvik
