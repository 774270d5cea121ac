#!/bin/sh
# Stops Trelvik and removes its package tree, configuration and local data
# included. The session folders on the storages
# (/var/spool/storage/<storage>/Trelvik_<serial>/) are the user's data and stay.
set -eu
. "$(dirname "$0")/paths.sh"

if use_systemd; then
  systemctl disable --now "$unit" 2> /dev/null || true
fi
if [ -x "$pkg/startup/trelvik.sh" ]; then
  "$pkg/startup/trelvik.sh" stop
fi
if [ -f "$unit_dir/$unit" ]; then
  rm -f "$unit_dir/$unit"
  if use_systemd; then
    systemctl daemon-reload
  fi
fi
rm -rf "$pkg" "$run"
say "removed $pkg"
