# Shared by the start, install and remove scripts; sourced, never run on its
# own. Every path lies under TRELVIK_DEVICE_ROOT when it is set (the emulated
# camera of the tests); on the device it is empty.
root=${TRELVIK_DEVICE_ROOT:-}
root=${root%/}
pkg=$root/usr/local/packages/Trelvik
conf_dir=$pkg/conf
conf=$conf_dir/trelvik.conf
password=$conf_dir/api_password
# Process ids and the start-up log: on the device's tmpfs, so that no stale
# process id survives a reboot.
run=$root/var/run/trelvik
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
