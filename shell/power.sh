#!/bin/sh
# power.sh <output folder>
#
# Records the power, voltage and current readings that the device exposes
# through the kernel (hardware monitors and power supplies in /sys/class) into
# "power.csv", one row per reading per sample:
#   Date,Time,Source,Reading,Value,Unit
# with the kernel's own units (hwmon: mV, mA, uW; power supplies: uV, uA, uW).
# A device without such readings gets no file at all.
#
# TRELVIK_SCRIPT_SAMPLES (default 11) samples, TRELVIK_SCRIPT_INTERVAL
# (default 10) seconds apart: about 100 seconds per run.

. "$(dirname "$0")/sampling.sh"

csv="$out/power.csv"

# A label for a CSV field: commas become semicolons.
field() {
  v=$1
  while :; do
    case $v in
      *,*) v="${v%%,*};${v#*,}" ;;
      *) break ;;
    esac
  done
  echo "$v"
}

# Prints "source,reading,value,unit" for every reading there is.
readings() {
  for dir in "$root/sys/class/hwmon/"*/; do
    [ -d "$dir" ] || continue
    source=${dir%/}
    source=${source##*/}
    [ -r "$dir/name" ] && read -r name < "$dir/name" && source=$(field "$source:$name")
    for file in "$dir"in*_input "$dir"curr*_input "$dir"power*_input; do
      [ -r "$file" ] || continue
      channel=${file##*/}
      channel=${channel%_input}
      case $channel in in*) unit=mV ;; curr*) unit=mA ;; *) unit=uW ;; esac
      label=$channel
      [ -r "$dir/${channel}_label" ] && read -r label < "$dir/${channel}_label" && label=$(field "$label")
      read -r value < "$file" && echo "$source,$label,$value,$unit"
    done
  done
  for dir in "$root/sys/class/power_supply/"*/; do
    [ -d "$dir" ] || continue
    source=${dir%/}
    source=${source##*/}
    for reading in voltage_now:uV current_now:uA power_now:uW; do
      file="$dir${reading%%:*}"
      [ -r "$file" ] && read -r value < "$file" && echo "$source,${reading%%:*},$value,${reading##*:}"
    done
  done
}

sample() {
  now=$(date '+%Y-%m-%d,%H:%M:%S')
  rows=$(readings)
  [ -n "$rows" ] || return 0
  [ -f "$csv" ] || echo "Date,Time,Source,Reading,Value,Unit" > "$csv" || return 1
  echo "$rows" | while IFS= read -r row; do echo "$now,$row"; done >> "$csv"
}

run_samples sample
