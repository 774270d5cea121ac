#include "lib/collect/sampler.hpp"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <thread>

#include "lib/collect/sampler_jobs.hpp"

namespace trelvik {
namespace {

template <class Collector>
std::unique_ptr<SamplerCollector> make(std::string folder) {
  return std::make_unique<Collector>(std::move(folder));
}

struct JobRow {
  SamplerJob job;
  std::string_view script;  // the base name of the script that runs it
  std::unique_ptr<SamplerCollector> (*make)(std::string folder);
};

constexpr JobRow kJobs[] = {
    {SamplerJob::VmStatus, "vmstatus_monitoring.sh", make<VmstatCollector>},
    {SamplerJob::TopStatus, "topstatus_monitoring.sh", make<TopCollector>},
    {SamplerJob::ZedaStatus, "zeda_status_monitor.sh", make<ZedaCollector>},
    {SamplerJob::Power, "power.sh", make<PowerCollector>},
};

}  // namespace

std::optional<SamplerJob> sampler_job_of(std::string_view script_path) {
  const std::string_view name = script_path.substr(script_path.rfind('/') + 1);
  const auto row =
      std::find_if(std::begin(kJobs), std::end(kJobs), [name](const JobRow& r) { return r.script == name; });
  if (row == std::end(kJobs)) return std::nullopt;
  return row->job;
}

std::unique_ptr<SamplerCollector> make_sampler_collector(SamplerJob job, std::string folder) {
  const auto row = std::find_if(std::begin(kJobs), std::end(kJobs), [job](const JobRow& r) { return r.job == job; });
  return row->make(std::move(folder));
}

int run_sampler(SamplerJob job, const std::string& folder, unsigned samples, unsigned interval_seconds) {
  const std::unique_ptr<SamplerCollector> collector = make_sampler_collector(job, folder);
  if (!collector->start()) return 1;
  for (unsigned n = 0; n < samples; ++n) {
    if (!collector->sample()) return 1;
    if (n + 1 < samples) std::this_thread::sleep_for(std::chrono::seconds(interval_seconds));
  }
  return 0;
}

}  // namespace trelvik
