#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite headless, in stages: the source
# format; the library tests under AddressSanitizer and UndefinedBehaviorSanitizer; the tests of
# the threaded code under ThreadSanitizer; a short fuzz run of every fuzz target side by side; then
# every test of a Release build on a virtual display with a real tray host
# (scripts/with-display.sh); among them, the desktop tests start a real desktop of their own
# (scripts/with-desktop.sh, on X11 and on Wayland). Network tests start their own servers on
# 127.0.0.1. Each stage prints its time.
# VANTREL_SKIP_SANITIZE=1 skips the ASan and TSan stages; VANTREL_FUZZ_SECONDS=0 the fuzz run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
build=${VANTREL_BUILD_DIR:-build}
jobs=$(nproc)

export LC_ALL=C.UTF-8
# The sanitizer builds do not optimise (-O0) and keep line tables only (-g1): their reports still
# name file and line, a test file compiles in about 40 % of the time of -O1 (measured with the
# sanitizers on), and the tests themselves are short. The Release stage runs every test fully
# optimised.
sanitized=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O0 -g1 -DNDEBUG")
SECONDS=0
stage() {
  echo "== $* (at ${SECONDS} s)"
}

stage "Source format"
git ls-files -- '*.cpp' '*.h' | xargs clang-format --dry-run -Werror

if [ "${VANTREL_SKIP_SANITIZE:-0}" != 1 ]; then
  stage "Library tests with ASan+UBSan"
  cmake -S . -B "$build-asan" "${sanitized[@]}" -DVANTREL_SANITIZE=ON \
        -DVANTREL_WERROR=ON -DVANTREL_UI=OFF -DVANTREL_BENCH=OFF >/dev/null
  cmake --build "$build-asan" -j"$jobs"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$build-asan" --output-on-failure -j"$jobs"

  # The test programs listed in tests/CMakeLists.txt (VANTREL_THREADED_TESTS). Qt and GLib are
  # built without the sanitizer, so TSan sees neither how their threads synchronise nor most of
  # what they touch: accesses made inside them (through memcpy, malloc and the like) are left out
  # (ignore_noninstrumented_modules), or their own threads (Qt Test's watchdog, the D-Bus thread
  # of the accessibility bridge, the image scaling pool) would be reported. Every access made by
  # our code is checked. (Library-wide suppressions would not do: our slots run below Qt's frames.)
  stage "Threaded code with TSan"
  cmake -S . -B "$build-tsan" "${sanitized[@]}" -DVANTREL_TSAN=ON \
        -DVANTREL_WERROR=ON -DVANTREL_BENCH=OFF >/dev/null
  cmake --build "$build-tsan" -j"$jobs" --target threaded_tests
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ignore_noninstrumented_modules=1" \
    scripts/with-display.sh ctest --test-dir "$build-tsan" -L threaded --output-on-failure -j"$jobs"
fi

stage "Fuzz smoke"
VANTREL_FUZZ_BUILD_DIR="$build-fuzz" scripts/fuzz-smoke.sh

stage "All tests (Release)"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVANTREL_WERROR=ON -DVANTREL_BENCH=ON >/dev/null
cmake --build "$build" -j"$jobs"
stage "Packaging checks"
scripts/check-packaging.sh "$build"
stage "Tests on a virtual display"
rc=0
scripts/with-display.sh ctest --test-dir "$build" --output-on-failure -j"$jobs" || rc=$?
stage "Done, exit $rc"
exit $rc
