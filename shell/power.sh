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

# The package's resident sampler takes the samples (see sampling.sh).
here=${0%/*}
[ "$here" = "$0" ] && here=.
. "$here/sampling.sh"
run_samples
