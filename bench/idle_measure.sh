#!/usr/bin/env bash
# Idle cost of the running program: started hidden with 1000 entries that are not due, its CPU
# time is sampled from /proc/PID/stat over a period (60 s by default) and its memory read from
# /proc/PID/status. Usage: bench/idle_measure.sh [path/to/vantrel] [seconds]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exe=$(realpath "${1:-$here/../build/bin/vantrel}")
seconds=${2:-60}
source "$here/measure_common.sh"
ensure_display "$exe" "$seconds"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
make_copy "$exe" "$work"
write_page_list "$work/webpages.dat" 1000

start_program "$work" -s
wait_started --onlyvisible || true
sleep 2  # let start-up settle

ticks() { sed 's/^.*) //' "/proc/$program_pid/stat" | awk '{ print $12 + $13 }'; }
hz=$(getconf CLK_TCK)
t0=$(ticks); n0=$(now_ns)
sleep "$seconds"
t1=$(ticks); n1=$(now_ns)
rss=$(awk '/^VmRSS/ { print $2 }' "/proc/$program_pid/status")
hwm=$(awk '/^VmHWM/ { print $2 }' "/proc/$program_pid/status")

rc=0; stop_program || rc=$?
awk -v t="$(( t1 - t0 ))" -v hz="$hz" -v ns="$(( n1 - n0 ))" -v rss="$rss" -v hwm="$hwm" -v rc="$rc" 'BEGIN {
  secs = ns / 1e9
  printf "entries: 1000 (not due), period: %.1f s\n", secs
  printf "CPU: %d ticks = %.3f s, %.3f %%\n", t, t / hz, 100 * (t / hz) / secs
  printf "VmRSS: %.1f MiB, VmHWM: %.1f MiB\n", rss / 1024, hwm / 1024
  printf "exit code after SIGTERM: %d\n", rc
}'
grep -q '^count=1000' "$work/webpages.dat" || { echo "page list lost" >&2; exit 1; }
