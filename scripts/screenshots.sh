#!/usr/bin/env bash
# Builds the screenshot program and takes the pictures of the windows on a virtual display with a
# tray host: <build>/screenshots/*.png, and the same at twice the density as *@2x.png. Not a test:
# ctest never runs it. New pictures are added in tests/ui/Screenshots.cpp.
# Usage: scripts/screenshots.sh [build-dir]   (default: build, or $VANTREL_BUILD_DIR)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-${VANTREL_BUILD_DIR:-build}}
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target screenshots -j"$(nproc)"
out=$build/screenshots
exec scripts/with-display.sh --size 1600x1200 bash -c '
  "$1/bin/screenshots" "$2" && QT_SCALE_FACTOR=2 "$1/bin/screenshots" "$2"' bash "$build" "$out"
