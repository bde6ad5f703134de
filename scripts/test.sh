#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite headless, in stages: the source
# format; a Release build and every one of its tests on a virtual display with a real tray host
# (scripts/with-display.sh; among them, the desktop tests start a real desktop of their own,
# scripts/with-desktop.sh, on X11 and on Wayland); the library tests under AddressSanitizer and
# UndefinedBehaviorSanitizer and the tests of the threaded code under ThreadSanitizer
# (scripts/test-sanitized.sh); a short fuzz run of every fuzz target side by side. Network tests
# start their own servers on 127.0.0.1. Each stage prints its time.
# The Release tests mostly wait (servers that answer late, windows, a desktop starting up), so
# they run on their own display while the sanitizer and fuzz builds take the processors at the
# lowest priority; their output is printed whole when they end.
# VANTREL_SKIP_SANITIZE=1 skips the ASan and TSan stages; VANTREL_FUZZ_SECONDS=0 the fuzz run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
build=${VANTREL_BUILD_DIR:-build}
jobs=$(nproc)

export LC_ALL=C.UTF-8
SECONDS=0
stage() {
  echo "== $* (at ${SECONDS} s)"
}

stage "Source format"
git ls-files -- '*.cpp' '*.h' | xargs clang-format --dry-run -Werror

stage "Build (Release)"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVANTREL_WERROR=ON -DVANTREL_BENCH=ON >/dev/null
cmake --build "$build" -j"$jobs"
stage "Packaging checks"
scripts/check-packaging.sh "$build"

stage "Tests on a virtual display (Release), in the background"
release_log=$build/release-tests.log
scripts/with-display.sh ctest --test-dir "$build" --output-on-failure -j"$jobs" > "$release_log" 2>&1 &
release_pid=$!
trap '[ -z "$release_pid" ] || kill -- "$release_pid" 2>/dev/null || true' EXIT

rc=0
if [ "${VANTREL_SKIP_SANITIZE:-0}" != 1 ]; then
  stage "Sanitizer stages (scripts/test-sanitized.sh)"
  VANTREL_BUILD_DIR=$build nice -n 19 scripts/test-sanitized.sh || rc=$?
fi
if [ $rc = 0 ]; then
  stage "Fuzz smoke"
  VANTREL_FUZZ_BUILD_DIR="$build-fuzz" nice -n 19 scripts/fuzz-smoke.sh || rc=$?
fi

stage "Waiting for the Release tests"
release_rc=0
wait "$release_pid" || release_rc=$?
release_pid=
echo "== Tests on a virtual display (Release): output"
cat "$release_log"
[ $rc != 0 ] || rc=$release_rc
stage "Done, exit $rc"
exit $rc
