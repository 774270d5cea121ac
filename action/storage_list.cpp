// storage_list <serial_number>
// CGI action: the storages a session could be started on, with their state,
// as JSON. Changes nothing.
#include <cstdio>

#include "lib/base/log.hpp"
#include "lib/web/storage_list.hpp"

int main(int argc, char** argv) {
  trelvik::open_program_log();
  if (argc != 2) {
    std::fprintf(stderr, "Usage: %s <serial_number>\n", argc > 0 ? argv[0] : "storage_list");
    return 1;
  }
  trelvik::storage_list_print(argv[1]);
  return 0;
}
