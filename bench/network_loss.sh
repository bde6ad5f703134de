#!/usr/bin/env bash
# The whole network-loss scenario on the Release program in a network namespace, read through
# "--status" every two seconds: 40 one-minute pages on 8 servers (spread over the minute) and one
# page on a refused port; 130 s without a route; the process stopped for 125 s (a suspend) and
# 20 s without a route after it goes on; 130 s with the far end of the link down, the address and
# route kept (every packet dropped, every connect times out). Prints the most watched pages shown
# Offline at once in each phase, whether the refused page stayed Offline, and how long after each
# return every page had been checked again. Root only; takes about nine minutes. With NETNS_KEEP
# naming a folder, the program's output and history are kept there.
# Usage: bench/network_loss.sh [path/to/vantrel]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exe=$(realpath "${1:-$here/../build/bin/vantrel}")
if [ -z "${DISPLAY:-}" ]; then exec "$here/../scripts/with-display.sh" "$0" "$@"; fi
here=$here/../tests/app
source "$here/netns_common.sh"
trap netns_cleanup EXIT

readonly kPages=40 kServers=8
netns_setup "$kServers"
netns_write_list "$kPages" "$kServers" 5 60
netns_start
t0=$(date +%s)
most=0 refused_ok=1
stamp() { echo "$(( $(date +%s) - t0 )) s"; }

# watch SECONDS: reads the listing every two seconds for that long.
watch() {
  local until=$(( $(date +%s) + $1 )) listing n
  while (( $(date +%s) < until )); do
    listing=$(netns_status)
    n=$(netns_offline_watched "$listing")
    (( n > most )) && most=$n
    if (( $(date +%s) - t0 > 10 )) && ! grep -q $'^Refused\tOffline\t' <<<"$listing"; then refused_ok=0; fi
    sleep 2
  done
}

# recheck BACK: sets r to the seconds until every page was checked after BACK (at most 90).
recheck() {
  local back=$1 listing
  r="over 90"
  while (( $(date +%s) - back <= 90 )); do
    listing=$(netns_status)
    n=$(netns_offline_watched "$listing")
    (( n > most )) && most=$n
    [ "$(netns_unchecked_since "$listing" "$back")" = 0 ] && { r=$(( $(date +%s) - back )); return; }
    sleep 1
  done
}

phase() {  # phase NAME: prints the phase's figures and starts the next count
  printf '%-58s most shown Offline: %2d of %d; refused page Offline throughout: %s; all rechecked %s s after the return\n' \
    "$1" "$most" "$kPages" "$([ $refused_ok = 1 ] && echo yes || echo NO)" "$2"
  most=0
  kill -0 "$program_pid" || { echo "the program ended"; exit 1; }
}

watch 70
kill -0 "$program_pid" || { echo "the program ended early"; exit 1; }
echo "$(stamp): warmed up (every page checked once)"; most=0

netns_no_route; watch 130; netns_restore; back=$(date +%s)
recheck "$back"; watch 20
phase "130 s without a route" "$r"

kill -STOP "$program_pid"; sleep 124; netns_no_route; sleep 1; kill -CONT "$program_pid"
watch 20; netns_restore; back=$(date +%s)
recheck "$back"; watch 20
phase "stopped 125 s, then 20 s without a route" "$r"

netns_drop_packets; watch 130; netns_restore; back=$(date +%s)
recheck "$back"; watch 20
phase "far end down, route kept (packets dropped) 130 s" "$r"

kill -TERM "$program_pid" && wait "$program_pid" || true
program_pid=""
