#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite headless: first the library
# tests under AddressSanitizer and UndefinedBehaviorSanitizer, then every test of a Release build
# on a virtual display with a real tray host (scripts/with-display.sh). Network tests start their
# own servers on 127.0.0.1.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
build=${VANTREL_BUILD_DIR:-build}
jobs=$(nproc)

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

VANTREL_FUZZ_BUILD_DIR="$build-fuzz" scripts/fuzz-smoke.sh

echo "== All tests (Release)"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVANTREL_WERROR=ON -DVANTREL_BENCH=ON >/dev/null
cmake --build "$build" -j"$jobs"
echo "== Packaging checks"
scripts/check-packaging.sh "$build"
exec scripts/with-display.sh ctest --test-dir "$build" --output-on-failure -j"$jobs"
