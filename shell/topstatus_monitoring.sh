#!/bin/sh
# topstatus_monitoring.sh <output folder>
#
# Appends "top" snapshots to "topstatus.txt": a "=== <date> <time> ===" line,
# then the summary lines and the busiest processes (the first 30 lines of one
# batch run), so that a load peak can be traced to its process.
#
# TRELVIK_SCRIPT_SAMPLES (default 11) snapshots, TRELVIK_SCRIPT_INTERVAL
# (default 10) seconds apart: about 100 seconds per run.

out=$1
if [ -z "$out" ]; then
  echo "Usage: $0 <output folder>" >&2
  exit 2
fi
samples=${TRELVIK_SCRIPT_SAMPLES:-11}
interval=${TRELVIK_SCRIPT_INTERVAL:-10}
case $samples in ''|*[!0-9]*) samples=11 ;; esac
case $interval in ''|*[!0-9]*) interval=10 ;; esac

# The whole list would make the file grow by megabytes a day.
lines=30
text="$out/topstatus.txt"

n=0
while [ "$n" -lt "$samples" ]; do
  {
    echo "=== $(date '+%Y-%m-%d %H:%M:%S') ==="
    top -b -n 1 | head -n "$lines"
  } >> "$text" || exit 1
  n=$((n + 1))
  [ "$n" -lt "$samples" ] && sleep "$interval"
done
exit 0
