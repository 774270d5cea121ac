#!/bin/sh
# topstatus_monitoring.sh <output folder>
#
# Appends "top" snapshots to "topstatus.txt": a "=== <date> <time> ===" line,
# then the summary lines and the busiest processes as busybox "top -b -n 1"
# prints them (its first 30 lines), so that a load peak can be traced to its
# process. CPU figures cover the time since the previous snapshot (the first
# one's, a tenth of a second, as top's own).
#
# TRELVIK_SCRIPT_SAMPLES (default 11) snapshots, TRELVIK_SCRIPT_INTERVAL
# (default 10) seconds apart: about 100 seconds per run.

# The package's resident sampler takes the samples (see sampling.sh).
here=${0%/*}
[ "$here" = "$0" ] && here=.
. "$here/sampling.sh"
run_samples
