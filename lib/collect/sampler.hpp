// The sampling of the package's scripts "vmstatus_monitoring.sh",
// "topstatus_monitoring.sh", "zeda_status_monitor.sh" and "power.sh": each
// script hands its run to one resident sampler, which reads the kernel's
// files directly between its pauses and appends to the script's files
// (formats in the scripts' own headers).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace trelvik {

enum class SamplerJob { VmStatus, TopStatus, ZedaStatus, Power };

// One job's collector over its output folder. Both steps are false when a
// file could not be written (the folder is gone: the storage was lost or the
// session ended).
class SamplerCollector {
 public:
  virtual ~SamplerCollector() = default;
  // Before the first sample: the files whose header is written up front.
  virtual bool start() = 0;
  virtual bool sample() = 0;
};

// The job of a script, by the base name of its path; nullopt for any other.
std::optional<SamplerJob> sampler_job_of(std::string_view script_path);

std::unique_ptr<SamplerCollector> make_sampler_collector(SamplerJob job, std::string folder);

// `samples` samples `interval_seconds` apart, no pause after the last;
// stops at the first that fails. The exit status of the script: 0, or 1.
int run_sampler(SamplerJob job, const std::string& folder, unsigned samples, unsigned interval_seconds);

}  // namespace trelvik
