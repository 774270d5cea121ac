# Shared by the package's sampling scripts; sourced, never run on its own,
# after the script has set `here` to its own folder. Takes the output folder
# as the script's first argument and sets:
#   out       the output folder
#   samples   TRELVIK_SCRIPT_SAMPLES, default 11
#   interval  TRELVIK_SCRIPT_INTERVAL in seconds, default 10
# With the defaults a run lasts about 100 seconds: done before the next
# sampling round, two minutes later, starts the script again.
# shellcheck shell=dash

out=$1
if [ -z "$out" ]; then
  echo "Usage: $0 <output folder>" >&2
  exit 2
fi
samples=${TRELVIK_SCRIPT_SAMPLES:-11}
interval=${TRELVIK_SCRIPT_INTERVAL:-10}
case $samples in ''|*[!0-9]*) samples=11 ;; esac
case $interval in ''|*[!0-9]*) interval=10 ;; esac

# Hands the run to the package's resident sampler (trelvik_sampler, beside
# the scripts' folder), which reads the kernel's files itself between its
# pauses instead of starting processes for every sample; it writes the
# script's files (named after the script) and ends with the script's exit
# status: 1 at the first sample it could not write. exec keeps this process:
# the sampler's command line carries this script's path, so the process list
# filtered by "Trelvik" still names the script while it runs.
run_samples() {
  # shellcheck disable=SC2154 # set by the script that sources this file
  exec "$here/../trelvik_sampler" "$0" "$out" "$samples" "$interval"
}
