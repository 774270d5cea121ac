// trelvik_sampler <script> <output folder> <samples> <interval seconds>
//
// The resident sampler of the package's sampling scripts: a script execs it
// with its own path first, so the process list still names the script while
// the samples are taken (the daemon starts no second instance meanwhile).
#include <charconv>
#include <cstdio>
#include <string_view>

#include "lib/base/log.hpp"
#include "lib/collect/sampler.hpp"

namespace {

bool to_count(std::string_view text, unsigned& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

}  // namespace

int main(int argc, char** argv) {
  unsigned samples = 0, interval = 0;
  const std::optional<trelvik::SamplerJob> job = argc == 5 ? trelvik::sampler_job_of(argv[1]) : std::nullopt;
  if (!job || argv[2][0] == '\0' || !to_count(argv[3], samples) || !to_count(argv[4], interval)) {
    std::fprintf(stderr, "Usage: %s <sampling script> <output folder> <samples> <interval seconds>\n", argv[0]);
    return 2;
  }
  trelvik::open_program_log();
  return trelvik::run_sampler(*job, argv[2], samples, interval);
}
