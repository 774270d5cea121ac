// trelvik_daemon <serial_number> <full_name> <prod_type> <nemor_user>
// The API password arrives as one line on standard input.
#include <cstdio>

#include "daemon/startup.hpp"

int main(int argc, char** argv) { return trelvik::daemon_main(argc, argv, stdin); }
