#!/usr/bin/env bash
# The scale targets, each printed beside the figure measured on this machine:
# - idle CPU (from /proc/PID/stat), longest freeze of the window (round trips of _NET_WM_PING
#   every 5 ms), start to window and SIGTERM to exit, with 10,000 and 100,000 entries not due;
# - 1,000 due pages over 50 servers on 127.0.0.2 ... 127.0.0.51 answering after 200 ms;
# - 100 due pages over 10 servers of which one accepts and never answers;
# - 1,000 due 10 KB pages on one server, against curl fetching the same URLs in one process.
# The servers are a small asyncio program (scale_servers.py) that logs the time of every answer.
# Usage: bench/scale_measure.sh [path/to/vantrel] [idle seconds, 20 by default]
# VANTREL_SCALE_PARTS picks runs: any of idle10k idle100k servers50 hung rate (all by default).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exe=$(realpath "${1:-$here/../build/bin/vantrel}")
idle=${2:-20}
source "$here/measure_common.sh"
ensure_display "$exe" "$idle"

work=$(mktemp -d)
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  [ -n "${program_pid:-}" ] && kill -KILL "$program_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
make_copy "$exe" "$work"
port=$(( 20000 + RANDOM % 20000 ))
results=()

report() { results+=("$(printf '%-52s target %-12s measured %s' "$1" "$2" "$3")"); echo "${results[-1]}"; }
ms_since() { echo $(( ($(now_ns) - $1) / 1000000 )); }

# The entries: COUNT pages; due ones have an empty stamp and a one-minute interval, the others
# were checked just now and wait a day. Page i goes to server FIRST + (i - 1) % SERVERS.
write_list() {
  local file=$1 count=$2 due=$3 first=${4:-2} servers=${5:-1}
  awk -v n="$count" -v due="$due" -v stamp="$(now_stamp)" -v first="$first" -v servers="$servers" -v port="$port" 'BEGIN {
    printf "[main]\r\ncount=%d\r\nstart=0\r\nsort=0\r\nrecheck=0\r\n", n
    for (i = 1; i <= n; i++) {
      host = due ? sprintf("127.0.0.%d:%d", first + (i - 1) % servers, port) : "127.0.0.1:9"
      printf "[web%d]\r\ncaption=Page %d\r\nstatus=0\r\nitem1=http://%s/page%d\r\n", i, i, host, i
      printf "item2=%s\r\nitem3=%s\r\nitem4=\r\n", due ? "0" : "8", due ? "" : stamp
    }
  }' > "$file"
}

wait_window() {
  local i w
  for (( i = 0; i < 6000; i++ )); do
    w=$(xdotool search --onlyvisible --all --pid "$program_pid" --name '^Vantrel 1\.2' 2>/dev/null | head -1) || true
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.005
  done
  return 1
}

cpu_ticks() { sed 's/^.*) //' "/proc/$program_pid/stat" | awk '{ print $12 + $13 }'; }

idle_run() {
  local count=$1 cpu_target=$2 freeze_target=$3 t0 window started ticks0 ticks1 n0 n1 ping freeze
  write_list "$work/webpages.dat" "$count" 0
  t0=$(now_ns)
  start_program "$work"
  window=$(wait_window) || { echo "no window with $count entries" >&2; return 1; }
  started=$(ms_since "$t0")
  sleep 3  # let start-up settle
  ticks0=$(cpu_ticks); n0=$(now_ns)
  sleep "$idle"
  ticks1=$(cpu_ticks); n1=$(now_ns)
  ping=$(python3 "$here/wm_ping.py" "$window" 10 5 || echo "no answer")
  freeze=$(awk '{ for (i = 1; i < NF; i++) if ($i == "longest") print $(i + 1) }' <<< "$ping")
  t0=$(now_ns)
  stop_program || true
  local stopped; stopped=$(ms_since "$t0")
  report "$count entries: idle CPU" "<= $cpu_target %" \
    "$(awk -v t=$(( ticks1 - ticks0 )) -v hz="$(getconf CLK_TCK)" -v ns=$(( n1 - n0 )) 'BEGIN { printf "%.3f %%", 100 * t / hz / (ns / 1e9) }')"
  report "$count entries: longest freeze (ping every 5 ms, 10 s)" "<= $freeze_target ms" "${freeze:-?} ms ($ping)"
  [ "$count" = 100000 ] && report "$count entries: start to window" "<= 1500 ms" "$started ms"
  [ "$count" = 100000 ] && report "$count entries: SIGTERM to exit" "<= 1500 ms" "$stopped ms"
  grep -q "^count=$count" "$work/webpages.dat" || report "$count entries: list kept at exit" "kept" "LOST"
}

start_servers() {  # FIRST LAST DELAY_MS BYTES [--hang ADDRESS]
  : > "$work/served.log"
  python3 "$here/scale_servers.py" "$port" "$work/served.log" "$@" > "$work/servers.out" 2>&1 &
  server_pid=$!
  for (( i = 0; i < 200; i++ )); do grep -q ready "$work/servers.out" 2>/dev/null && return 0; sleep 0.05; done
  echo "servers did not start" >&2; return 1
}
stop_servers() { kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; server_pid=""; }

# Waits until LINES answers are logged or SECONDS pass; prints seconds from T0_NS to the last one.
served_within() {
  local lines=$1 seconds=$2 t0=$3
  lines_within "$work/served.log" "$lines" "$seconds" || true
  awk -v t0="$t0" -v want="$lines" 'END { if (NR >= want) printf "%.1f s", $1 - t0 / 1e9; else printf "only %d of %d answers", NR, want }' "$work/served.log"
}

due_run() {  # LABEL TARGET COUNT SERVERS ANSWERS_WANTED WAIT_SECONDS DELAY BYTES [--hang ADDRESS]
  local label=$1 target=$2 count=$3 servers=$4 want=$5 wait=$6 delay=$7 bytes=$8; shift 8
  start_servers 2 $(( 1 + servers )) "$delay" "$bytes" "$@"
  write_list "$work/webpages.dat" "$count" 1 2 "$servers"
  local t0; t0=$(now_ns)
  start_program "$work" -s
  report "$label" "$target" "$(served_within "$want" "$wait" "$t0")"
  # Downloads are still in flight (the hung server never answers): the end must not wait for them.
  t0=$(now_ns)
  stop_program || true
  report "$label: SIGTERM to exit" "<= 1500 ms" "$(ms_since "$t0") ms"
  stop_servers
}

parts=" ${VANTREL_SCALE_PARTS:-idle10k idle100k servers50 hung rate} "
part() { [[ "$parts" == *" $1 "* ]]; }
part idle10k && idle_run 10000 0.1 16
part idle100k && idle_run 100000 0.5 50
part servers50 && due_run "1,000 due pages, 50 servers, 200 ms answers: cycle" "<= 30 s" 1000 50 1000 240 200 2000
part hung && due_run "100 due pages, 10 servers, one hung: 90 others" "<= 5 s" 100 10 90 30 0 2000 --hang 127.0.0.3

rate_run() {
# 1,000 pages of 10 KB on one server: our rate against curl's, both from the server's log, each
# the median of three runs taken in turn (a run lasts well under a second, so one run says little).
# Every run of ours starts with no history, as the first check of a list does.
local ours=() theirs=() round
start_servers 2 2 0 10240
awk -v port="$port" 'BEGIN { for (i = 1; i <= 1000; i++) printf "url = \"http://127.0.0.2:%d/page%d\"\noutput = \"/dev/null\"\n", port, i }' > "$work/curl.cfg"
rate_of_log() { awk 'NR == 1 { a = $1 } END { if (NR > 1) printf "%.0f", (NR - 1) / ($1 - a) }' "$work/served.log"; }
for round in 1 2 3; do
  rm -f "$work"/history.db*
  write_list "$work/webpages.dat" 1000 1 2 1
  : > "$work/served.log"
  start_program "$work" -s
  served_within 1000 120 "$(now_ns)" > /dev/null
  ours+=("$(rate_of_log)")
  stop_program || true
  : > "$work/served.log"
  curl -s -K "$work/curl.cfg"
  theirs+=("$(rate_of_log)")
done
stop_servers
median() { printf '%s\n' "$@" | sort -n | sed -n 2p; }
report "1,000 due 10 KB pages, one server: pages/s" ">= curl $(median "${theirs[@]}")/s" \
  "$(median "${ours[@]}")/s (runs: ${ours[*]}; curl's: ${theirs[*]})"
}
part rate && rate_run

echo
echo "== Summary ($(uptime | sed 's/.*load/load/'))"
printf '%s\n' "${results[@]}"
