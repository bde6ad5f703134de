#!/usr/bin/env bash
# Builds and runs the library tests under AddressSanitizer and UndefinedBehaviorSanitizer, then
# the tests of the threaded code under ThreadSanitizer. Part of scripts/test.sh, which runs it
# while the Release tests run; each stage prints its time.
# Usage: scripts/test-sanitized.sh   (build folders: $VANTREL_BUILD_DIR-asan and -tsan, default build-)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${VANTREL_BUILD_DIR:-build}
jobs=$(nproc)
export LC_ALL=C.UTF-8
# The sanitizer builds do not optimise (-O0) and keep line tables only (-g1): their reports still
# name file and line, a test file compiles in about 40 % of the time of -O1 (measured with the
# sanitizers on), and the tests themselves are short.
sanitized=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O0 -g1 -DNDEBUG")
# Both are built with clang, which compiles them unoptimised in less time than GCC (measured on
# two cores: the TSan build 141-155 s against GCC's 240 s, the ASan one 90-127 s against 134 s);
# the Release build stays with GCC, so the code is kept clean of both compilers' warnings. clang
# comes with the fuzz tools.
scripts/install-deps.sh fuzz
export CXX=clang++
# A build folder set up earlier with another compiler starts afresh (CMake keeps the compiler a
# folder was first configured with).
for dir in "$build-asan" "$build-tsan"; do
  if [ -f "$dir/CMakeCache.txt" ] && ! grep -q '^CMAKE_CXX_COMPILER:.*clang++' "$dir/CMakeCache.txt"; then
    rm -rf "$dir"
  fi
done
SECONDS=0
stage() {
  echo "== $* (at ${SECONDS} s)"
}

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
stage "Sanitized tests done"
