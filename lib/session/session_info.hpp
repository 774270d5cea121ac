// The session folder's information file ("Session_Information.txt"): the
// fields the daemon counts on at every round. Each update reads, rewrites and
// atomically replaces the file under the session folder's lock.
#pragma once

namespace trelvik {

// Adds 1 to "Collected Data Points" of the session folder's information file
// (appends the field with "1" when missing). Nothing is created when the file
// is missing.
void update_number_of_collected_data_points(const char* path);
// Adds a minute to "Duration" (appends "0 Days 0 hours 0 minutes" when
// missing).
void update_session_duration(const char* path);

}  // namespace trelvik
