#!/bin/sh
# zeda_status_monitor.sh <output folder>
#
# Records what the installed packages (the folders of
# /usr/local/packages) run and how much memory it takes:
#   zeda_processes.csv  Date,Time,Package,PID,VSZ_kB,RSS_kB,Command
#                       one row per process started from a package's folder
#   zeda_memory.csv     Date,Time,Package,Processes,VSZ_kB,RSS_kB
#                       one row per installed package (0 when nothing runs)
# ps may show large sizes scaled ("53m"); they are turned back into kB.
#
# TRELVIK_SCRIPT_SAMPLES (default 11) samples, TRELVIK_SCRIPT_INTERVAL
# (default 10) seconds apart: about 100 seconds per run.

. "$(dirname "$0")/sampling.sh"

processes="$out/zeda_processes.csv"
memory="$out/zeda_memory.csv"
[ -f "$processes" ] || echo "Date,Time,Package,PID,VSZ_kB,RSS_kB,Command" > "$processes" || exit 1
[ -f "$memory" ] || echo "Date,Time,Package,Processes,VSZ_kB,RSS_kB" > "$memory" || exit 1

# The installed packages' names, one a line.
packages() {
  for dir in "$root/usr/local/packages/"*/; do
    [ -d "$dir" ] || continue
    dir=${dir%/}
    echo "${dir##*/}"
  done
}

sample() {
  now=$(date '+%Y-%m-%d,%H:%M:%S')
  list=$(packages)
  [ -n "$list" ] || return 0
  # Paths and names reach awk through the environment: -v would expand
  # backslashes in them (a serial number is part of the output path).
  ps -o pid,vsz,rss,args | NOW=$now LIST=$list PROCS=$processes MEM=$memory awk '
    function kb(text,   unit, n) {
      unit = substr(text, length(text))
      n = text + 0
      if (unit == "m") return int(n * 1024)
      if (unit == "g") return int(n * 1048576)
      if (unit == "t") return int(n * 1073741824)
      return n
    }
    BEGIN {
      now = ENVIRON["NOW"]; procs = ENVIRON["PROCS"]; mem = ENVIRON["MEM"]
      count = split(ENVIRON["LIST"], name, "\n")
    }
    NR > 1 {
      command = $0
      sub(/^ *[^ ]+ +[^ ]+ +[^ ]+ +/, "", command)
      gsub(/,/, ";", command)
      for (i = 1; i <= count; i++) {
        if (index(command, "/usr/local/packages/" name[i] "/") == 0) continue
        print now "," name[i] "," $1 "," kb($2) "," kb($3) "," command >> procs
        running[i]++; vsz[i] += kb($2); rss[i] += kb($3)
        break
      }
    }
    END {
      for (i = 1; i <= count; i++) print now "," name[i] "," running[i] + 0 "," vsz[i] + 0 "," rss[i] + 0 >> mem
    }'
}

run_samples sample
