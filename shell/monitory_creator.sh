#!/bin/sh
# monitory_creator.sh <session folder>
#
# Lays out a new monitoring session: the session folder, "system_monitoring"
# with one folder per collector (the collectors write into them without
# creating them), and ".signature" with the "Start: " line that the session
# list shows. Exits non-zero when any of it cannot be made, and when the session
# folder is there already: a session writes only into a folder that it made,
# never through what was put on the storage beforehand.

session=$1
if [ -z "$session" ]; then
  echo "Usage: $0 <session folder>" >&2
  exit 2
fi

mkdir -p -- "$(dirname -- "$session")" || exit 1
mkdir -- "$session" || exit 1
monitoring="$session/system_monitoring"
for folder in monitoring_network monitoring_streams monitoring_radar monitoring_meminfo \
    monitoring_load monitoring_environment monitoring_self monitoring_zeda \
    monitoring_basic/Server_Reports monitoring_interrupts monitoring_onvif \
    monitoring_kernel monitoring_vmstatus monitoring_topstatus; do
  mkdir -p -- "$monitoring/$folder" || exit 1
done

# The default date text (LANG unset) is what the session list shows as the start.
# noclobber: the signature is a new file, never a name that is there already.
set -C
echo "Start: $(date)" > "$session/.signature" || exit 1
