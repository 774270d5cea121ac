#!/bin/sh
# vmstatus_monitoring.sh <output folder>
#
# Records the kernel's virtual-memory figures that vmstat shows (run queue,
# free memory, swap and paging, interrupts, context switches, CPU time) as
# cumulative counters, one row per sample in "vmstat.csv", so that the rates
# between any two rows can be had afterwards. The device's busybox has no
# vmstat, so the figures are read from /proc directly.
#
# TRELVIK_SCRIPT_SAMPLES (default 11) samples, TRELVIK_SCRIPT_INTERVAL (default
# 10) seconds apart: about 100 seconds, done before the next sampling round two
# minutes later starts the script again. A figure the kernel does not offer
# stays an empty field.

. "$(dirname "$0")/sampling.sh"

csv="$out/vmstat.csv"
header="Date,Time,procs_running,procs_blocked,MemFree_kB,Buffers_kB,Cached_kB,SwapFree_kB"
header="$header,pswpin,pswpout,pgpgin,pgpgout,pgfault,pgmajfault,intr,ctxt"
header="$header,cpu_user,cpu_nice,cpu_system,cpu_idle,cpu_iowait"
[ -f "$csv" ] || echo "$header" > "$csv" || exit 1

sample() {
  awk -v now="$(date '+%Y-%m-%d,%H:%M:%S')" -v proc="$root/proc" '
    function load(file, prefix,   line, f) {
      while ((getline line < file) > 0) {
        split(line, f, /[ \t:]+/)
        v[prefix f[1]] = f[2]
        if (f[1] == "cpu") { cpu[1] = f[2]; cpu[2] = f[3]; cpu[3] = f[4]; cpu[4] = f[5]; cpu[5] = f[6] }
      }
      close(file)
    }
    BEGIN {
      load(proc "/stat", "stat.")
      load(proc "/meminfo", "mem.")
      load(proc "/vmstat", "vm.")
      row = now "," v["stat.procs_running"] "," v["stat.procs_blocked"]
      row = row "," v["mem.MemFree"] "," v["mem.Buffers"] "," v["mem.Cached"] "," v["mem.SwapFree"]
      row = row "," v["vm.pswpin"] "," v["vm.pswpout"] "," v["vm.pgpgin"] "," v["vm.pgpgout"]
      row = row "," v["vm.pgfault"] "," v["vm.pgmajfault"] "," v["stat.intr"] "," v["stat.ctxt"]
      for (i = 1; i <= 5; i++) row = row "," cpu[i]
      print row
    }' >> "$csv"
}

run_samples sample
