#!/bin/sh
# Installs or upgrades Trelvik from the package tree that this script came
# with (the archive unpacked in any folder):
#   mkdir /tmp/trelvik && tar -xzf trelvik-<version>-<arch>.tar.gz -C /tmp/trelvik
#   /tmp/trelvik/usr/local/packages/Trelvik/startup/install.sh
# A first install creates conf/trelvik.conf from the template beside this
# script and an empty conf/api_password (mode 600). An upgrade stops the
# running programs, replaces the programs, scripts and pages, keeps conf/ and
# localdata/ (the current session and the PTZ test settings) and starts the
# programs again if they were running: a session simply goes on.
set -eu
. "$(dirname "$0")/paths.sh"

src=$(cd "$(dirname "$0")/.." && pwd -P)

was_running=
if use_systemd && systemctl is-active --quiet "$unit"; then
  was_running=systemd
  systemctl stop "$unit"
elif [ -x "$pkg/startup/trelvik.sh" ] && "$pkg/startup/trelvik.sh" status > /dev/null 2>&1; then
  was_running=script
  "$pkg/startup/trelvik.sh" stop
fi

mkdir -p "$pkg"
if [ "$src" != "$(cd "$pkg" && pwd -P)" ]; then
  for entry in "$pkg"/* "$pkg"/.[!.]*; do
    case ${entry##*/} in
      conf | localdata | '*' | '.[!.]*') ;;
      *) rm -rf "$entry" ;;
    esac
  done
  for entry in "$src"/*; do
    case ${entry##*/} in
      conf | localdata) ;;
      *) cp -pR "$entry" "$pkg/" ;;
    esac
  done
fi

mkdir -p "$pkg/localdata" "$conf_dir"
chmod 700 "$conf_dir"
if [ ! -f "$conf" ]; then
  cp "$pkg/startup/trelvik.conf" "$conf"
  say "edit $conf and write the device API password into $password"
fi
if [ ! -f "$password" ]; then
  (umask 077 && : > "$password")
fi

if [ -d "$unit_dir" ]; then
  cp "$pkg/startup/$unit" "$unit_dir/$unit"
  if use_systemd; then
    systemctl daemon-reload
    systemctl enable "$unit"
  fi
fi

case $was_running in
  systemd) systemctl start "$unit" ;;
  script) "$pkg/startup/trelvik.sh" start ;;
esac
say "installed in $pkg"
