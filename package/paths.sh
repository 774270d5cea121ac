# Shared by the start, install and remove scripts; sourced, never run on its
# own. Every path lies under TRELVIK_DEVICE_ROOT when it is set (the emulated
# camera of the tests); on the device it is empty.
# shellcheck shell=dash
# The scripts that source this file use its names, each only some of them.
# shellcheck disable=SC2034
root=${TRELVIK_DEVICE_ROOT:-}
root=${root%/}
pkg=$root/usr/local/packages/Trelvik
conf_dir=$pkg/conf
conf=$conf_dir/trelvik.conf
password=$conf_dir/api_password
# The web entry's copy, beside its device.conf.
web_password=$pkg/localdata/api_password
# Process ids and the start-up log: on the device's tmpfs, so that no stale
# process id survives a reboot.
run=$root/var/run/trelvik
# The supervisor's process id and start time ("<pid> <start time>").
supervisor_pid=$run/trelvik.pid
unit_dir=$root/etc/systemd/system
unit=trelvik.service

say() {
  echo "trelvik: $*" >&2
}

# True on a device that runs systemd, where the unit is in charge; never for
# an emulated camera's root.
use_systemd() {
  [ -z "$root" ] && [ -d /run/systemd/system ] && command -v systemctl >/dev/null 2>&1
}

# The start time of a process in clock ticks since boot (field 22 of its
# stat line, counted after the name in parentheses, which may hold blanks);
# empty when there is no such process.
start_time() {
  stat_line=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
  # The fields are wanted apart.
  # shellcheck disable=SC2086
  set -- ${stat_line##*) }
  [ $# -ge 20 ] || return 0
  shift 19
  printf '%s' "${1:-}"
}

# Prints the supervisor's process id when the process id file names a live
# process that is this package's supervisor: its command line runs this
# package's trelvik.sh with "run", and its start time is the one the
# supervisor wrote (a file from before the start time was kept has none).
# A process id that was handed on to another process after a crash fails.
supervisor() {
  [ -f "$supervisor_pid" ] || return 1
  read -r sup_pid sup_started < "$supervisor_pid" || [ -n "${sup_pid:-}" ] || return 1
  case $sup_pid in
    '' | *[!0-9]*) return 1 ;;
  esac
  sup_cmdline=$(tr '\000' ' ' < "/proc/$sup_pid/cmdline" 2>/dev/null) || return 1
  case $sup_cmdline in
    *" $pkg/startup/trelvik.sh run ") ;;
    *) return 1 ;;
  esac
  if [ -n "${sup_started:-}" ] && [ "$sup_started" != "$(start_time "$sup_pid")" ]; then
    return 1
  fi
  printf '%s\n' "$sup_pid"
}

# Removes a process id file that names no supervisor of this package, and
# says so; the process it names, if any, is left alone.
clean_stale_pid_file() {
  if [ -f "$supervisor_pid" ] && ! supervisor > /dev/null; then
    say "removed the stale process id file $supervisor_pid ($(cat "$supervisor_pid" 2>/dev/null)): no supervisor of Trelvik runs as that process"
    rm -f "$supervisor_pid"
  fi
}
