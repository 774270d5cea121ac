// Network diagnostics: ping and traceroute. Their output goes to standard
// output; the system log gets the ping's outcome and the traceroute's hops.
#pragma once

namespace trelvik {

// Pings `address` once with the device's ping ("ping "<address>" 2>&1"),
// copies every output line to standard output followed by an empty line and
// logs whether a line said "is alive". Returns the pipe's wait status. A
// pipe that cannot be started is fatal.
int qorm_nettools_ping(const char* address);

// Runs `command` (a whole command line, run as given: the caller vouches for
// it) and copies its output to standard output as the ping does. Each output
// line is logged as "Traceroute: <line>" except the second and later lines of
// a run of unanswered hops ("* * *"). Returns the pipe's wait status.
int qorm_nettools_traceroute(const char* command);

}  // namespace trelvik
