#!/bin/sh
# bench/collect_sessions.sh [sessions]
#
# Times shell/collect_monitoring_sessions.sh over generated stored sessions
# (default 1000, split over the internal storage and two edge storages; each
# with ".signature", "Session_Information.txt", a few data files and, for all
# but the active one, an archive) under busybox sh and the system's sh, and
# prints the figures. The status report waits for this script on every
# request, so it should stay far below a second.

set -e
here=$(cd "$(dirname "$0")/.." && pwd)
script="$here/shell/collect_monitoring_sessions.sh"
count=${1:-1000}
serial=ACCC8E000001
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

root="$work/root"
localdata="$root/usr/local/packages/Trelvik/localdata/"
mkdir -p "$localdata"

make_session() {  # <application folder> <index>
  day=$(( $2 / 1440 + 1 ))
  name=$(printf '202601%02d_%02d_%02d_00' $(( day % 28 + 1 )) $(( $2 / 60 % 24 )) $(( $2 % 60 )))
  dir="$1$name"
  mkdir -p "$dir/system_monitoring/monitoring_kernel"
  printf 'Start: Thu Jan  1 00:00:00 UTC 2026\nEnd: Thu Jan  1 01:00:00 UTC 2026\n' > "$dir/.signature"
  printf 'Model Name: Q\r\nSession Size: 1 MiB\r\n' > "$dir/Session_Information.txt"
  printf 'DATE,TIME,MINOR_FAULTS,MAJOR_FAULTS\n' > "$dir/system_monitoring/monitoring_kernel/pagefaults.csv"
  : > "$dir.zip"
}

i=0
while [ "$i" -lt "$count" ]; do
  case $(( i % 3 )) in
    0) app=$localdata ;;
    1) app="$root/var/spool/storage/SD_DISK/Trelvik_$serial/" ;;
    *) app="$root/var/spool/storage/NetworkShare/Trelvik_$serial/" ;;
  esac
  mkdir -p "$app"
  make_session "$app" "$i"
  i=$((i + 1))
done
# The last session is the active one: no end line, no archive, measured with du.
active=$(ls -d "$root/var/spool/storage/SD_DISK/Trelvik_$serial/"*_* | grep -v zip | tail -n 1)
rm -f "$active.zip"
printf 'SECS:SD_DISK\nSSPA:%s\nACTI:%s\nTIME:x\n' "${active%/*}/" "${active##*/}" \
  > "${localdata}current_monitoring_session.txt"

for shell in "busybox sh" sh; do
  start=$(date +%s%N)
  blocks=$(TRELVIK_DEVICE_ROOT=$root $shell "$script" "$serial" | grep -c '^=== SESSION END ===$')
  end=$(date +%s%N)
  echo "$shell: $blocks sessions listed in $(( (end - start) / 1000000 )) ms"
done
