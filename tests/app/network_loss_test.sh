#!/usr/bin/env bash
# The Release program in a network namespace loses its route for a while (address and route gone,
# as when a laptop loses Wi-Fi) and gets it back. Read through "--status" every two seconds: no
# watched page is ever shown Offline, every one is checked again within 30 s of the network's
# return, a page on a refused port is Offline throughout, and the pages put off meanwhile are
# shown waiting for the network. Pages: 8 one-minute pages (the shortest interval) on 4 servers,
# falling due 10 s after the start, inside a 25 s outage.
# Exits 77 (skipped) where network namespaces cannot be made (not root, no iproute2).
# Usage: tests/app/network_loss_test.sh path/to/vantrel
set -euo pipefail
exe=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${DISPLAY:-}" ]; then exec "$here/../../scripts/with-display.sh" "$0" "$@"; fi
source "$here/netns_common.sh"
trap netns_cleanup EXIT

readonly kPages=8 kServers=4 kDueIn=10 kOutage=25 kReturnBound=30 kStartBound=20
rc=0
netns_setup "$kServers" || rc=$?
[ $rc = 0 ] || exit $rc
netns_write_list "$kPages" "$kServers" "$kDueIn"
netns_start
start=$(date +%s)
failures=0
fail() { echo "FAIL: $*"; failures=$(( failures + 1 )); }

# The refused page is checked at once; then the network goes.
refused=""
for (( i = 0; i < kStartBound * 5; i++ )); do
  refused=$(netns_status | awk -F'\t' '$1 == "Refused" { print $2 }')
  [ "$refused" = Offline ] && break
  sleep 0.2
done
[ "$refused" = Offline ] || { fail "the refused page was not offline within ${kStartBound} s"; exit 1; }
netns_no_route
echo "route taken away $(( $(date +%s) - start )) s after the start; pages fall due at ${kDueIn} s"

# Watched through the outage and until every page was checked after it.
back=0 rechecked=-1 most_offline=0 most_waiting=0
for (( round = 0; round < (kOutage + kReturnBound + 10) / 2 + 5; round++ )); do
  now=$(date +%s)
  if (( back == 0 && now - start >= kOutage + 5 )); then
    netns_restore
    back=$(date +%s)
    echo "route back $(( back - start )) s after the start"
  fi
  listing=$(netns_status)
  offline=$(netns_offline_watched "$listing")
  (( offline > most_offline )) && most_offline=$offline
  waiting=$(netns_waiting_watched "$listing")
  (( back == 0 && waiting > most_waiting )) && most_waiting=$waiting
  grep -q $'^Refused\tOffline\t' <<<"$listing" || fail "the refused page is not offline: $(grep '^Refused' <<<"$listing")"
  if (( back > 0 )) && [ "$(netns_unchecked_since "$listing" "$back")" = 0 ]; then
    rechecked=$(( $(date +%s) - back ))
    break
  fi
  (( back > 0 && now - back > kReturnBound + 5 )) && break
  sleep 2
done
(( most_offline == 0 )) || fail "up to $most_offline watched pages were shown Offline"
(( most_waiting > 0 )) || fail "no watched page was shown waiting for the network during the outage"
if (( rechecked < 0 || rechecked > kReturnBound )); then
  fail "not every page was checked within ${kReturnBound} s of the network's return"
  netns_status
fi
echo "watched pages shown Offline at most: $most_offline, waiting for the network at most: $most_waiting;" \
  "all rechecked ${rechecked} s after the return"
kill -TERM "$program_pid" && wait "$program_pid" || true
program_pid=""
(( failures == 0 ))
