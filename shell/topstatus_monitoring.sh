#!/bin/sh
# topstatus_monitoring.sh <output folder>
#
# Appends "top" snapshots to "topstatus.txt": a "=== <date> <time> ===" line,
# then the summary lines and the busiest processes (the first 30 lines of one
# batch run), so that a load peak can be traced to its process.
#
# TRELVIK_SCRIPT_SAMPLES (default 11) snapshots, TRELVIK_SCRIPT_INTERVAL
# (default 10) seconds apart: about 100 seconds per run.

. "$(dirname "$0")/sampling.sh"

# The whole list would make the file grow by megabytes a day.
lines=30
text="$out/topstatus.txt"

sample() {
  {
    echo "=== $(date '+%Y-%m-%d %H:%M:%S') ==="
    top -b -n 1 | head -n "$lines"
  } >> "$text"
}

run_samples sample
