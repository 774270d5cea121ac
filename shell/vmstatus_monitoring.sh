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

# The package's resident sampler takes the samples (see sampling.sh).
here=${0%/*}
[ "$here" = "$0" ] && here=.
. "$here/sampling.sh"
run_samples
