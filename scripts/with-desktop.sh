#!/usr/bin/env bash
# Runs a command on a real desktop of its own, as users have it: a private D-Bus session bus, a
# virtual X display (Xvfb) with the XFCE window manager (xfwm4), its settings daemon, its panel
# with the status tray (a StatusNotifierItem host, which puts org.kde.StatusNotifierWatcher on the
# bus) and its notification daemon (org.freedesktop.Notifications). Waits until both services are
# on the bus, runs the command, then stops everything it started. The command's exit code is this
# script's; 77 (the skip code of the tests that run under it) when the machine cannot start the
# desktop, with the reason on standard error.
#   --dark     the desktop's theme is Adwaita-dark, and Qt follows it (its GTK platform theme)
#   --scale 2  a 2560x1440 screen and twice the size for Qt (else 1280x720)
#   --wayland  also a headless Wayland compositor (weston), and Qt uses it; the panel and the
#              notification daemon stay on the X display, as under XWayland
# Usage: scripts/with-desktop.sh [--dark] [--scale 2] [--wayland] COMMAND [ARGS...]
set -euo pipefail
dark=0
scale=1
wayland=0
while [ $# -gt 0 ]; do
  case $1 in
    --dark) dark=1; shift ;;
    --scale) scale=$2; shift 2 ;;
    --wayland) wayland=1; shift ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: $0 [--dark] [--scale 2] [--wayland] COMMAND [ARGS...]" >&2; exit 2; }
case $scale in
  1) size=1280x720 ;;
  2) size=2560x1440 ;;
  *) echo "$0: --scale takes 1 or 2" >&2; exit 2 ;;
esac

skip() {
  echo "with-desktop.sh: skipped, $*" >&2
  exit 77
}
# Two daemons live outside PATH, in the architecture's library folder.
libexec() {
  local found
  found=$(ls /usr/lib/*/xfce4/"$1" 2>/dev/null | head -n 1)
  [ -n "$found" ] && [ -x "$found" ] || skip "${1##*/} is missing (scripts/install-deps.sh test)"
  echo "$found"
}
notifyd=$(libexec notifyd/xfce4-notifyd)
xfconfd=$(libexec xfconf/xfconfd)
tools=(Xvfb xdotool dbus-daemon dbus-send xfwm4 xfsettingsd xfce4-panel xfconf-query)
[ $wayland = 0 ] || tools+=(weston)
for tool in "${tools[@]}"; do
  command -v "$tool" >/dev/null || skip "$tool is missing (scripts/install-deps.sh test)"
done

# Everything of this desktop lives in one folder of its own: the runtime folder (the bus's and the
# compositor's sockets), the settings the daemons write, and their logs (shown when one fails).
work=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-desktop.XXXXXX")
chmod 0700 "$work"
mkdir -m 0700 "$work/run" "$work/home" "$work/config" "$work/cache" "$work/data"
export XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache \
       XDG_DATA_HOME=$work/data XDG_CURRENT_DESKTOP=XFCE LC_ALL=C.UTF-8
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY QT_QPA_PLATFORM QT_QPA_PLATFORMTHEME QT_SCALE_FACTOR
# The program as if installed for this desktop's user: its launcher and its icons, which the
# notification daemon shows for the program's icon name and desktop-entry hint.
packaging=$(cd "$(dirname "$0")/../packaging" && pwd)
mkdir -p "$XDG_DATA_HOME/applications" "$XDG_DATA_HOME/icons/hicolor/scalable/apps"
cp "$packaging"/*.desktop "$XDG_DATA_HOME/applications/"
cp "$packaging"/icons/*.svg "$XDG_DATA_HOME/icons/hicolor/scalable/apps/"
for dir in "$packaging"/icons/*x*/; do
  pixels=$(basename "$dir")
  mkdir -p "$XDG_DATA_HOME/icons/hicolor/$pixels/apps"
  cp "$dir"*.png "$XDG_DATA_HOME/icons/hicolor/$pixels/apps/"
done
# The daemons keep their own settings in a home folder of this desktop; the command keeps the
# caller's HOME (only the XDG folders above are private to it).
daemon_env=(env HOME="$work/home" GDK_BACKEND=x11 NO_AT_BRIDGE=1)

pids=()
command_pid=
bus_pid=
stop() {
  [ -z "$command_pid" ] || { kill "$command_pid" 2>/dev/null || true; wait "$command_pid" 2>/dev/null || true; }
  command_pid=
  local i children
  for (( i=${#pids[@]}-1; i>=0; i-- )); do
    # The compositor's helper clients (its shell, its keyboard) first, while it is there to reap
    # them; else they would linger as zombies.
    children=$(pgrep -P "${pids[i]}" 2>/dev/null || true)
    if [ -n "$children" ]; then
      kill $children 2>/dev/null || true
      await 20 eval '[ -z "$(pgrep -P "${pids[i]}")" ]' || true
    fi
    kill "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
  pids=()
  [ -z "$bus_pid" ] || { kill "$bus_pid" 2>/dev/null || true; wait "$bus_pid" 2>/dev/null || true; }
  bus_pid=
  rm -rf "$work" 2>/dev/null || { sleep 0.5; rm -rf "$work" 2>/dev/null || true; }
}
trap stop EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
trap 'exit 129' HUP

# A part of the desktop that does not come up: the machine cannot give the command its desktop,
# a skip as for a missing tool, with the daemons' last words for whoever looks into it.
fail() {
  local log
  for log in "$work"/*.log; do
    [ -s "$log" ] && { echo "--- $(basename "$log")" >&2; tail -n 20 "$log" >&2; }
  done
  skip "$*"
}

# Bounded wait, in tenths of a second, for a test command to succeed.
await() {
  local tenths=$1
  shift
  for (( ; tenths > 0; tenths-- )); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

# The display, picked as scripts/with-display.sh picks it.
. "$(dirname "$0")/xvfb-display.sh"
start_xvfb "$size" || skip "Xvfb did not start on a display of its own"
pids+=("$xvfb_pid")
export DISPLAY=$display

# The session bus, with this desktop's environment for the services it starts on demand.
dbus-daemon --session --nofork --nopidfile --address="unix:path=$XDG_RUNTIME_DIR/bus" \
            >"$work/bus.log" 2>&1 &
bus_pid=$!
export DBUS_SESSION_BUS_ADDRESS=unix:path=$XDG_RUNTIME_DIR/bus
on_bus() {
  local reply
  reply=$(dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
                    "string:$1" 2>/dev/null) && [[ $reply == *"boolean true"* ]]
}
await 100 dbus-send --session --dest=org.freedesktop.DBus --print-reply / org.freedesktop.DBus.GetId ||
  fail "the session bus did not start"

# The settings store started here rather than by the bus on demand, so that it is this script's
# child, ended and reaped with the rest.
"${daemon_env[@]}" "$xfconfd" >"$work/xfconfd.log" 2>&1 &
pids+=($!)
await 100 on_bus org.xfce.Xfconf || fail "the settings store (xfconfd) did not come up"

# The theme goes into the settings store before the settings daemon reads it.
if [ $dark = 1 ]; then
  "${daemon_env[@]}" xfconf-query -c xsettings -p /Net/ThemeName -n -t string -s Adwaita-dark ||
    fail "xfconf-query could not set the dark theme"
  export QT_QPA_PLATFORMTHEME=gtk3
fi
if [ "$scale" = 2 ]; then
  export QT_SCALE_FACTOR=2
fi

"${daemon_env[@]}" xfsettingsd --disable-wm-check >"$work/xfsettingsd.log" 2>&1 &
pids+=($!)
"${daemon_env[@]}" xfwm4 --compositor=off >"$work/xfwm4.log" 2>&1 &
pids+=($!)
# The panel and the daemons place their windows once the window manager is there.
await 100 xdotool search --limit 1 --classname '^xfwm4$' || true
"${daemon_env[@]}" xfce4-panel --disable-wm-check >"$work/panel.log" 2>&1 &
pids+=($!)
"${daemon_env[@]}" "$notifyd" >"$work/notifyd.log" 2>&1 &
pids+=($!)
await 200 on_bus org.kde.StatusNotifierWatcher || fail "the panel's status tray did not come up"
await 200 on_bus org.freedesktop.Notifications || fail "the notification daemon did not come up"

if [ $wayland = 1 ]; then
  socket=wayland-vantrel
  # No on-screen keyboard: nothing here types through an input method.
  printf '[input-method]\npath=\n' >"$work/weston.ini"
  weston --backend=headless-backend.so --socket=$socket --config="$work/weston.ini" --width="${size%x*}" --height="${size#*x}" \
         --idle-time=0 >"$work/weston.log" 2>&1 &
  pids+=($!)
  await 200 test -S "$XDG_RUNTIME_DIR/$socket" || skip "weston's headless compositor did not start"
  export WAYLAND_DISPLAY=$socket QT_QPA_PLATFORM=wayland
fi

# In the background with the caller's input, so that a signal to this script is handled at once
# (bash runs traps only between foreground commands) and the desktop does not outlive it.
"$@" <&0 &
command_pid=$!
rc=0
wait "$command_pid" || rc=$?
command_pid=
exit $rc
