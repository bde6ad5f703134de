#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer and UndefinedBehaviorSanitizer) and runs
# them side by side, each for VANTREL_FUZZ_SECONDS (20 by default; 0 skips) from its seed corpus
# and dictionary. The seeds are merged into a scratch copy, so the committed corpus never changes.
# A crash, a sanitizer report or a time-out fails the run; the input that caused it stays in the
# target's folder under the build folder (VANTREL_FUZZ_BUILD_DIR, default build-fuzz).
# A longer search: VANTREL_FUZZ_SECONDS=600 scripts/fuzz-smoke.sh text
# Usage: scripts/fuzz-smoke.sh [target...]   (targets: cookie cookie_file ini list_import page_filter response text url)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${VANTREL_FUZZ_SECONDS:-20}
if [ "$seconds" = 0 ]; then
  echo "== Fuzz smoke skipped (VANTREL_FUZZ_SECONDS=0)"
  exit 0
fi
build=${VANTREL_FUZZ_BUILD_DIR:-build-fuzz}
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(cookie cookie_file ini list_import page_filter response text url)
jobs=${VANTREL_FUZZ_JOBS:-$(nproc)}

echo "== Fuzz smoke: ${targets[*]}, side by side, $seconds s each"
scripts/install-deps.sh fuzz
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# Line tables only (-g1): a report still names file and line, and the build is quicker.
CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" -DVANTREL_FUZZ=ON -DVANTREL_WERROR=ON \
      "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$jobs" --target "${targets[@]/%/_fuzz}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# One target: merge the seeds into the scratch corpus (the run starts from them and writes only
# there), then fuzz for the time given. Its exit code is the fuzzer's.
fuzz() {
  local t=$1 dir=$build/fuzz-run/$1
  rm -rf "$dir"
  mkdir -p "$dir/corpus"
  "$build/bin/${t}_fuzz" -merge=1 -artifact_prefix="$dir/" "$dir/corpus" "fuzz/corpus/$t" \
    >"$dir/merge.log" 2>&1 || { echo "merging the seeds failed" >"$dir/run.log"; return 1; }
  "$build/bin/${t}_fuzz" -dict="fuzz/$t.dict" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$dir/" "$dir/corpus" >"$dir/run.log" 2>&1
}

pids=()
for t in "${targets[@]}"; do
  fuzz "$t" &
  pids+=($!)
done
failed=()
for k in "${!targets[@]}"; do
  t=${targets[$k]}
  dir=$build/fuzz-run/$t
  rc=0
  wait "${pids[$k]}" || rc=$?
  # The last status line: "#N DONE cov: C ft: F corp: ...".
  summary=$(grep -E '^#[0-9]+' "$dir/run.log" | tail -1 || true)
  if [ "$rc" -ne 0 ]; then
    echo "$t: FAILED (exit $rc); see $dir/merge.log and $dir/run.log; input kept in $dir:"
    ls "$dir" | grep -E '^(crash|leak|timeout|oom|slow-unit)-' | sed 's/^/  /' || true
    grep -E 'ERROR|runtime error|SUMMARY|merging' "$dir/run.log" | head -5 | sed 's/^/  /' || true
    failed+=("$t")
  else
    echo "$t: ok  $summary"
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz smoke failed: ${failed[*]}"
  exit 1
fi
