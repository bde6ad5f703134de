#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite headless: first the library
# tests under AddressSanitizer and UndefinedBehaviorSanitizer, then every test of a Release build
# under Xvfb with a real tray host (trayer). Network tests start their own servers on 127.0.0.1.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
build=${VANTREL_BUILD_DIR:-build}
jobs=$(nproc)

export XDG_RUNTIME_DIR=/tmp/runtime-$(id -u)
mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
unset DBUS_SESSION_BUS_ADDRESS
export LC_ALL=C.UTF-8

echo "== Source format"
git ls-files -- '*.cpp' '*.h' | xargs clang-format --dry-run -Werror

if [ "${VANTREL_SKIP_SANITIZE:-0}" != 1 ]; then
  echo "== Library tests with ASan+UBSan"
  cmake -S . -B "$build-asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_SANITIZE=ON \
        -DVANTREL_WERROR=ON -DVANTREL_UI=OFF -DVANTREL_BENCH=OFF >/dev/null
  cmake --build "$build-asan" -j"$jobs"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$build-asan" --output-on-failure -j"$jobs"
fi

echo "== All tests (Release)"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVANTREL_WERROR=ON -DVANTREL_BENCH=ON >/dev/null
cmake --build "$build" -j"$jobs"
echo "== Packaging checks"
scripts/check-packaging.sh "$build"
exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash -c '
  trayer --edge bottom --align right --widthtype request --height 32 \
         --SetDockType true --transparent false >/dev/null 2>&1 & tp=$!
  timeout 10 xdotool search --sync --limit 1 --classname "^panel$" >/dev/null || true
  rc=0; ctest --test-dir "$1" --output-on-failure -j"$2" || rc=$?
  kill $tp 2>/dev/null || true; exit $rc' bash "$build" "$jobs"
