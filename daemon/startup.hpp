// Start-up of trelvik_daemon: arguments, password, the session that survived
// a reboot, timers, the PTZ thread and the main loop.
#pragma once

#include <glib.h>

#include <cstdio>

#include "lib/session/session_globals.hpp"

namespace trelvik {

// "PTZ", case-sensitive, anywhere in the full name or else in the product type.
bool camera_has_ptz(const char* full_name, const char* prod_type);
// Notes a session recorded in the state file and returns what the load found.
SessionLoad restore_session();
// The whole program: returns the exit status (it does not return while the
// main loop runs).
int daemon_main(int argc, char** argv, FILE* password_in);

}  // namespace trelvik
