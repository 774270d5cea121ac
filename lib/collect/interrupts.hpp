// Interrupt counter snapshot: two copies of "/proc/interrupts" taken 3 seconds
// apart, so the counts of one session show the rate of every interrupt line.
#pragma once

namespace trelvik {

// Copies "/proc/interrupts" into the session's "monitoring_interrupts" folder
// twice, each named "<%Y%m%d_%H%M%S>_interrupts.txt" by the time of the copy
// and written without following a link (file_copy_over). Holds the caller for about 3 seconds; a
// failing copy is logged by file_copy.
void create_interrupts_snapshot(const char* session_path);

}  // namespace trelvik
