// The four collectors of the resident sampler, one per sampling script; each
// appends to its own files in the folder it is given.
#pragma once

#include <string>

#include "lib/collect/process_list.hpp"
#include "lib/collect/sampler.hpp"

namespace trelvik {

// "vmstat.csv": run queue, memory, paging, interrupts and CPU ticks.
class VmstatCollector final : public SamplerCollector {
 public:
  explicit VmstatCollector(std::string folder);
  bool start() override;
  bool sample() override;

 private:
  std::string folder_;
};

// "topstatus.txt": a dated top screen per sample.
class TopCollector final : public SamplerCollector {
 public:
  explicit TopCollector(std::string folder);
  bool start() override { return true; }
  bool sample() override;

 private:
  std::string folder_;
  TopSnapshots top_;
};

// "zeda_processes.csv" and "zeda_memory.csv": the processes of each
// installed package, and their sums per package.
class ZedaCollector final : public SamplerCollector {
 public:
  explicit ZedaCollector(std::string folder);
  bool start() override;
  bool sample() override;

 private:
  std::string folder_;
  ProcessFolder processes_;
};

// "power.csv": the hardware monitors' and power supplies' readings; a device
// without any gets no file.
class PowerCollector final : public SamplerCollector {
 public:
  explicit PowerCollector(std::string folder);
  bool start() override { return true; }
  bool sample() override;

 private:
  std::string folder_;
};

}  // namespace trelvik
