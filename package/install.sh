#!/bin/sh
# Installs or upgrades Trelvik from the package tree that this script came
# with (the archive unpacked in any folder):
#   mkdir /tmp/trelvik && tar -xzf trelvik-<version>-<arch>.tar.gz -C /tmp/trelvik
#   /tmp/trelvik/usr/local/packages/Trelvik/startup/install.sh
# A first install creates conf/trelvik.conf from the template beside this
# script and an empty conf/api_password (mode 600, the installing user's).
# localdata/device.conf and localdata/api_password, which the web entry
# reads, are the operator's to write; a password file that is a link or that
# others can read is named here, as the programs refuse it. An upgrade stops the
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
elif supervisor > /dev/null; then
  # This package's own check and stop, which trust no process id file (an
  # older start script would).
  was_running=script
  "$src/startup/trelvik.sh" stop
else
  clean_stale_pid_file
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
if [ ! -f "$password" ] && [ ! -L "$password" ]; then
  (umask 077 && : > "$password")
fi
# The web entry's password file is the operator's to write (owned by the web
# server's CGI user); the programs refuse either file while it is a link or
# others can read it, which is said here rather than at the first request.
for secret in "$password" "$web_password"; do
  if [ -L "$secret" ] || [ -e "$secret" ]; then
    # ls is the portable way to read a mode: group read is its 5th letter,
    # others' read its 8th.
    # shellcheck disable=SC2012
    case $(ls -ln "$secret") in
      l* | ????r* | ???????r*)
        say "$secret must be a regular file readable by its owner only (chmod 600 it): it is refused until then"
        ;;
    esac
  fi
done

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
