#include "lib/ptz.hpp"

namespace trelvik {

gpointer ptz_loop(gpointer /*unused*/) { return nullptr; }

}  // namespace trelvik
