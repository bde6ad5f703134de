#!/usr/bin/env bash
# Runs a command on a virtual X display of its own (Xvfb) with a notification-area host (trayer),
# as the widget tests, the screenshots and the measurements need, then stops both. The command's
# exit code is this script's. Also sets what a headless run needs: no session bus (with a
# StatusNotifier watcher or a notification service on it the toolkit's own balloons would never
# show), a private runtime directory and a UTF-8 C locale.
# Usage: scripts/with-display.sh [--size WxH] [--no-tray] COMMAND [ARGS...]
set -euo pipefail
size=1024x768
tray=1
while [ $# -gt 0 ]; do
  case $1 in
    --size) size=$2; shift 2 ;;
    --no-tray) tray=0; shift ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: $0 [--size WxH] [--no-tray] COMMAND [ARGS...]" >&2; exit 2; }
for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done
[ $tray = 0 ] || command -v trayer >/dev/null || { echo "trayer is missing (scripts/install-deps.sh)" >&2; exit 1; }

export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-/tmp/runtime-$(id -u)}
mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
# An address where no bus listens, rather than none: without an address the D-Bus library starts
# a bus of its own for the display (autolaunch), which then starts the desktop's notification
# service on demand and outlives the run.
export DBUS_SESSION_BUS_ADDRESS=unix:path=$XDG_RUNTIME_DIR/no-session-bus
export LC_ALL=C.UTF-8

xvfb_pid=
tray_pid=
command_pid=
stop() {
  [ -z "$command_pid" ] || { kill "$command_pid" 2>/dev/null || true; wait "$command_pid" 2>/dev/null || true; }
  [ -z "$tray_pid" ] || { kill "$tray_pid" 2>/dev/null || true; wait "$tray_pid" 2>/dev/null || true; }
  [ -z "$xvfb_pid" ] || { kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; }
  tray_pid=
  xvfb_pid=
}
trap stop EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
trap 'exit 129' HUP

. "$(dirname "$0")/xvfb-display.sh"
start_xvfb "$size" || { echo "Xvfb did not start on a display of its own" >&2; exit 1; }
export DISPLAY=$display

if [ $tray = 1 ]; then
  trayer --edge bottom --align right --widthtype request --height 32 \
         --SetDockType true --transparent false >/dev/null 2>&1 &
  tray_pid=$!
  timeout 10 xdotool search --sync --limit 1 --classname '^panel$' >/dev/null ||
    { echo "trayer did not come up on $DISPLAY" >&2; exit 1; }
fi

# In the background with the caller's input, so that a signal to this script is handled at once
# (bash runs traps only between foreground commands) and the display does not outlive it.
"$@" <&0 &
command_pid=$!
rc=0
wait "$command_pid" || rc=$?
command_pid=
exit $rc
