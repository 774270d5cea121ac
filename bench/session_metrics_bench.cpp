// Times the web entry's action=metrics body over a session folder (run by
// bench/session_export.py on a generated week):
//   session_metrics_bench SESSION_FOLDER [RUNS]
// Prints the reply's size and the median and slowest wall time of RUNS
// builds of it. The first run also pays for the page cache.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "lib/web/session_metrics.hpp"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "Usage: %s SESSION_FOLDER [RUNS]\n", argv[0]);
    return 2;
  }
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
  std::vector<double> millis;
  std::size_t bytes = 0;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    bytes = trelvik::session_metrics_text(argv[1], "bench").size();
    millis.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  const double first = millis.front();
  std::sort(millis.begin(), millis.end());
  std::printf("metrics reply: %zu bytes; first %.2f ms, median %.2f ms, slowest %.2f ms over %d runs\n", bytes, first,
              millis[millis.size() / 2], millis.back(), runs);
  return 0;
}
