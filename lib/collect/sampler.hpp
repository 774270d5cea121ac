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

class ProcessFolder;
class TopSnapshots;

enum class SamplerJob { VmStatus, TopStatus, ZedaStatus, Power };

// The job of a script, by the base name of its path; nullopt for any other.
std::optional<SamplerJob> sampler_job_of(std::string_view script_path);

// One sample of `job` into `folder`; false when its file could not be
// written (the folder is gone: the storage was lost or the session ended).
class Sampler {
 public:
  Sampler(SamplerJob job, std::string folder);
  ~Sampler();
  Sampler(const Sampler&) = delete;
  Sampler& operator=(const Sampler&) = delete;
  // Before the first sample: the files whose header is written up front.
  bool start();
  bool sample();

 private:
  bool sample_vmstat(const std::string& now);
  bool sample_top();
  bool sample_zeda(const std::string& now);
  bool sample_power(const std::string& now);

  SamplerJob job_;
  std::string folder_;
  std::unique_ptr<ProcessFolder> processes_;
  std::unique_ptr<TopSnapshots> top_;
};

// `samples` samples `interval_seconds` apart, no pause after the last;
// stops at the first that fails. The exit status of the script: 0, or 1.
int run_sampler(SamplerJob job, const std::string& folder, unsigned samples, unsigned interval_seconds);

}  // namespace trelvik
