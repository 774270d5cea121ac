#!/bin/sh
# Starts and stops Trelvik on the camera: trelvik_daemon with its four
# arguments from conf/trelvik.conf and the device API password on its standard
# input from conf/api_password (readable only by its owner, root on the
# device), and, when the device's event printing tool exists, that tool piped
# into trelvik_eventlistener. Each is started again when it ends, at most once
# every 10 seconds.
#
#   trelvik.sh start     supervise in the background, in a session of its own
#   trelvik.sh stop      stop the supervisor, the programs and what they started
#   trelvik.sh restart
#   trelvik.sh status    exit status 0 while running
#   trelvik.sh run       supervise in the foreground (what the systemd unit runs)
#
# No process id file is trusted: a signal goes only to a process that
# supervisor (paths.sh) recognises as this package's running supervisor, and
# a file that names another process is removed and reported.
. "$(dirname "$0")/paths.sh"

restart_period=10

# The last value of NAME in the configuration, as written: values are never
# run through the shell, only passed as arguments.
conf_value() {
  value=
  while IFS= read -r line || [ -n "$line" ]; do
    case $line in
      "$1="*) value=${line#*=} ;;
    esac
  done < "$conf"
  printf '%s' "$value"
}

read_setup() {
  if [ ! -r "$conf" ]; then
    say "no configuration in $conf"
    return 1
  fi
  serial=$(conf_value SERIAL_NUMBER)
  full_name=$(conf_value FULL_NAME)
  prod_type=$(conf_value PRODUCT_TYPE)
  api_user=$(conf_value API_USER)
  event_tool=$(conf_value EVENT_TOOL)
  if [ -z "$serial" ] || [ -z "$full_name" ] || [ -z "$prod_type" ] || [ -z "$api_user" ]; then
    say "SERIAL_NUMBER, FULL_NAME, PRODUCT_TYPE and API_USER must be set in $conf"
    return 1
  fi
  # The password reaches the daemon's standard input and nothing else; a
  # file that anyone else can read would give it away.
  if [ -L "$password" ]; then
    say "$password must be a file, not a link"
    return 1
  fi
  if [ ! -f "$password" ]; then
    say "no API password in $password"
    return 1
  fi
  # ls is the portable way to read mode and owner; its words are wanted apart.
  # shellcheck disable=SC2012,SC2046
  set -- $(ls -ln "$password")
  case $1 in
    -r--------|-r--------[.+]|-rw-------|-rw-------[.+]) ;;
    *)
      say "$password must be readable by its owner only (chmod 600 it)"
      return 1
      ;;
  esac
  if [ "$3" != "$(id -u)" ]; then
    say "$password must belong to the user who starts Trelvik"
    return 1
  fi
}

start_daemon() {
  exec "$pkg/trelvik_daemon" "$serial" "$full_name" "$prod_type" "$api_user" < "$password"
}

# The tool writes into a named pipe rather than a shell pipeline, so that
# both ends have process ids of their own to stop: the listener becomes this
# subshell, the tool's id goes to its own file.
start_listener() {
  if [ -f "$run/event_tool.pid" ]; then
    kill "$(cat "$run/event_tool.pid")" 2>/dev/null
  fi
  rm -f "$run/events"
  mkfifo -m 600 "$run/events" || exit 1
  "$root$event_tool" > "$run/events" &
  echo $! > "$run/event_tool.pid"
  exec "$pkg/trelvik_eventlistener" < "$run/events"
}

# Runs a start function again whenever what it started ends, but never
# sooner than restart_period seconds after the previous start: a program that
# fails at once does not spin.
keep_running() {
  name=$1
  while :; do
    started=$(date +%s)
    "$2" &
    echo $! > "$run/$name.pid"
    wait $!
    say "$name ended with status $?"
    # date counts whole seconds: one more makes sure that a whole period
    # has passed.
    left=$((started + restart_period + 1 - $(date +%s)))
    if [ "$left" -gt 0 ]; then
      sleep "$left"
    fi
  done
}

supervise() {
  if pid=$(supervisor); then
    say "already running (process $pid)"
    exit 1
  fi
  read_setup || exit 1
  mkdir -p "$run"
  # What a supervisor that ended without its trap left names no process of
  # ours any more.
  rm -f "$run"/*.pid
  echo "$$ $(start_time $$)" > "$supervisor_pid"
  loops=
  # The loops first, so that nothing is started again, then the programs.
  trap 'kill $loops 2>/dev/null; rm -f "$supervisor_pid"; kill $(cat "$run"/*.pid 2>/dev/null) 2>/dev/null; rm -f "$run"/*.pid "$run/events"; exit 0' TERM INT HUP
  keep_running trelvik_daemon start_daemon &
  loops=$!
  if [ -n "$event_tool" ] && [ -x "$root$event_tool" ]; then
    keep_running trelvik_eventlistener start_listener &
    loops="$loops $!"
  else
    say "no event printing tool at $root$event_tool: the event listener is not started"
  fi
  say "started"
  wait
}

running() {
  supervisor > /dev/null
}

# Polls a condition for up to the given tenths of a second.
wait_for() {
  tenths=$1
  shift
  while ! "$@"; do
    [ "$tenths" -le 0 ] && return 1
    sleep 0.1
    tenths=$((tenths - 1))
  done
}

start() {
  if running; then
    say "already running"
    return 0
  fi
  clean_stale_pid_file
  read_setup || return 1
  mkdir -p "$run"
  rm -f "$run"/*.pid
  # setsid: the supervisor leads a process group that holds everything it
  # starts, so that stop can end the sampling scripts too.
  (cd / && exec setsid sh "$pkg/startup/trelvik.sh" run < /dev/null > "$run/trelvik.log" 2>&1) &
  wait_for 50 running
}

group_gone() {
  ! kill -0 "-$1" 2>/dev/null
}

stop() {
  if ! pid=$(supervisor); then
    clean_stale_pid_file
    rm -f "$run"/*.pid
    return 0
  fi
  kill -TERM "$pid"
  # Then the rest of its process group: the event tool and the sampling
  # scripts that the daemon left running in the background.
  kill -TERM "-$pid" 2>/dev/null
  if ! wait_for 100 group_gone "$pid"; then
    say "stopping with SIGKILL"
    kill -KILL "-$pid" 2>/dev/null
  fi
  rm -f "$run"/*.pid "$run/events"
}

case ${1:-} in
  start) start ;;
  stop) stop ;;
  restart) stop && start ;;
  status)
    if pid=$(supervisor); then
      echo "running (process $pid)"
    else
      clean_stale_pid_file
      echo "stopped"
      exit 3
    fi
    ;;
  run) supervise ;;
  *)
    echo "Usage: $0 start|stop|restart|status|run" >&2
    exit 2
    ;;
esac
