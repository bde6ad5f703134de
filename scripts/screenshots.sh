#!/usr/bin/env bash
# Takes the screenshots of the main window (entries in every status) and of the web page dialog
# under a virtual display with a tray host, and writes them to <build>/screenshots/ (plain, and
# at twice the density as *@2x.png).
# Usage: scripts/screenshots.sh [build-dir]   (default: build, or $VANTREL_BUILD_DIR)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-${VANTREL_BUILD_DIR:-build}}
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target Screenshots_qtest -j"$(nproc)"

export XDG_RUNTIME_DIR=/tmp/runtime-$(id -u)
mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
unset DBUS_SESSION_BUS_ADDRESS
export LC_ALL=C.UTF-8
exec xvfb-run -a -s "-screen 0 1600x1200x24 -nolisten tcp" bash -c '
  trayer --edge bottom --align right --widthtype request --height 32 \
         --SetDockType true --transparent false >/dev/null 2>&1 & tp=$!
  timeout 10 xdotool search --sync --limit 1 --classname "^panel$" >/dev/null || true
  rc=0; "$1/bin/Screenshots_qtest" || rc=$?
  # The same at twice the density, to see the pictures on a high-density screen.
  [ $rc -eq 0 ] && { QT_SCALE_FACTOR=2 "$1/bin/Screenshots_qtest" || rc=$?; }
  kill $tp 2>/dev/null || true
  [ $rc -eq 0 ] && ls -l "$1/screenshots"
  exit $rc' bash "$build"
