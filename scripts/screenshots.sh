#!/usr/bin/env bash
# Builds the screenshot program and takes the pictures of the windows on a virtual display with a
# tray host: <build>/screenshots/*.png, the same at twice the density as *@2x.png, and the main
# window, Details and Show Changes in a dark desktop theme as dark-*.png (Adwaita-dark set by the
# desktop's settings daemon on a private session bus, taken up through the toolkit's GTK theme).
# Not a test: ctest never runs it. New pictures are added in tests/ui/Screenshots.cpp.
# Usage: scripts/screenshots.sh [build-dir]   (default: build, or $VANTREL_BUILD_DIR)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-${VANTREL_BUILD_DIR:-build}}
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target screenshots -j"$(nproc)"
out=$build/screenshots
for tool in dbus-run-session xfsettingsd xfconf-query; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done
exec scripts/with-display.sh --size 1600x1200 bash -c '
  "$1/bin/screenshots" "$2" && QT_SCALE_FACTOR=2 "$1/bin/screenshots" "$2" &&
  config=$(mktemp -d) && trap "rm -rf \"$config\"" EXIT &&
  XDG_CONFIG_HOME=$config dbus-run-session -- bash -c "
    xfsettingsd --no-daemon >/dev/null 2>&1 & settings=\$!
    for i in \$(seq 50); do xfconf-query -c xsettings -p /Net/ThemeName >/dev/null 2>&1 && break; sleep 0.1; done
    xfconf-query -c xsettings -p /Net/ThemeName -n -t string -s Adwaita-dark
    sleep 1  # the daemon hands the theme to the display as XSETTINGS
    rc=0; QT_QPA_PLATFORMTHEME=gtk3 \"\$0/bin/screenshots\" --dark \"\$1\" || rc=\$?
    kill \$settings; exit \$rc" "$1" "$2"' bash "$build" "$out"
