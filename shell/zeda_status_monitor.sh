#!/bin/sh
# zeda_status_monitor.sh <output folder>
#
# Records what the installed packages (the folders of
# /usr/local/packages) run and how much memory it takes:
#   zeda_processes.csv  Date,Time,Package,PID,VSZ_kB,RSS_kB,Command
#                       one row per process started from a package's folder
#   zeda_memory.csv     Date,Time,Package,Processes,VSZ_kB,RSS_kB
#                       one row per installed package (0 when nothing runs)
# Sizes are the kernel's, in kB; Command is the command line as ps shows it
# ("{name} " in front of a script run by its interpreter), commas as ";".
#
# TRELVIK_SCRIPT_SAMPLES (default 11) samples, TRELVIK_SCRIPT_INTERVAL
# (default 10) seconds apart: about 100 seconds per run.

# The package's resident sampler takes the samples (see sampling.sh).
here=${0%/*}
[ "$here" = "$0" ] && here=.
. "$here/sampling.sh"
run_samples
