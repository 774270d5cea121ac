# Shared by the package's sampling scripts; sourced, never run on its own.
# Takes the output folder as the script's first argument and sets:
#   out       the output folder
#   root      the device root (empty on the device)
#   samples   TRELVIK_SCRIPT_SAMPLES, default 11
#   interval  TRELVIK_SCRIPT_INTERVAL in seconds, default 10
# With the defaults a run lasts about 100 seconds: done before the next
# sampling round, two minutes later, starts the script again.

out=$1
if [ -z "$out" ]; then
  echo "Usage: $0 <output folder>" >&2
  exit 2
fi
root=${TRELVIK_DEVICE_ROOT%/}
samples=${TRELVIK_SCRIPT_SAMPLES:-11}
interval=${TRELVIK_SCRIPT_INTERVAL:-10}
case $samples in ''|*[!0-9]*) samples=11 ;; esac
case $interval in ''|*[!0-9]*) interval=10 ;; esac

# Calls the function named $1 once per sample, with no pause after the last
# one; stops at the first failing call.
run_samples() {
  n=0
  while [ "$n" -lt "$samples" ]; do
    "$1" || return 1
    n=$((n + 1))
    [ "$n" -lt "$samples" ] && sleep "$interval"
  done
  return 0
}
