#!/usr/bin/env bash
# Start-up time with 1000 entries in the page list: from the start of the process to its main
# window being mapped, over several runs (7 by default); prints each run and the median.
# Usage: bench/startup_measure.sh [path/to/vantrel] [runs] [entries]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exe=$(realpath "${1:-$here/../build/bin/vantrel}")
runs=${2:-7}
entries=${3:-1000}
source "$here/measure_common.sh"
ensure_display "$exe" "$runs" "$entries"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
make_copy "$exe" "$work"

times=()
for (( r = 1; r <= runs; r++ )); do
  write_page_list "$work/webpages.dat" "$entries"
  t0=$(now_ns)
  start_program "$work"
  shown=""
  for (( i = 0; i < 3000; i++ )); do
    if xdotool search --onlyvisible --all --pid "$program_pid" --name '^Vantrel 1\.2' >/dev/null 2>&1; then
      shown=$(now_ns); break
    fi
    sleep 0.005
  done
  stop_program || true
  [ -n "$shown" ] || { echo "run $r: window never shown" >&2; exit 1; }
  ms=$(( (shown - t0) / 1000000 ))
  echo "run $r: ${ms} ms"
  times+=("$ms")
done
median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }')
echo "median start-up to main window shown, $entries entries: ${median} ms"
