#!/usr/bin/env bash
# Soak under misbehaving servers: the program runs hidden with 1000 pages checked every minute,
# spread over 20 servers on 127.0.0.2 ... 127.0.0.21 (bench/soak_server.py) that answer every
# request in one of a dozen ways (slow, hanging, closing mid-head or mid-body, chunked, 500,
# redirect, garbage, reset, large, ...). Every 10 s the program's resident memory, open file
# descriptors and threads are sampled from /proc. At the end the program is stopped, and every
# page's saved status and checksum is checked against what its server last answered.
# Usage: bench/soak.sh MINUTES [path/to/vantrel (a Release build)]
# VANTREL_SOAK_SEED picks the servers' schedule (default 12).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
minutes=${1:?usage: bench/soak.sh MINUTES [path/to/vantrel]}
exe=$(realpath "${2:-$here/../build/bin/vantrel}")
seed=${VANTREL_SOAK_SEED:-12}
pages=1000
servers=20
source "$here/measure_common.sh"
ensure_display "$minutes" "$exe"

work=$(mktemp -d)
server_pid=
cleanup() {
  [ -n "${program_pid:-}" ] && kill -KILL "$program_pid" 2>/dev/null || true
  [ -n "$server_pid" ] && kill -TERM "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# The page list file lives next to the executable, so the program runs as a copy in the work folder.
make_copy "$exe" "$work"

python3 "$here/soak_server.py" serve --pages $pages --servers $servers --seed "$seed" \
  --log "$work/served.json" --port-file "$work/port" &
server_pid=$!
for (( i = 0; i < 100; i++ )); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || { echo "the servers did not start" >&2; exit 1; }
port=$(cat "$work/port")
python3 "$here/soak_server.py" pagelist "$work/webpages.dat" --port "$port" --pages $pages --servers $servers

echo "soak: $minutes min, $pages pages every minute on 127.0.0.2-21:$port, seed $seed"
start_program "$work" -s
t0=$(date +%s)
end=$(( t0 + minutes * 60 ))
samples=$work/samples
alive=1
while :; do
  now=$(date +%s)
  if ! kill -0 "$program_pid" 2>/dev/null || grep -q '^State:.*zombie' "/proc/$program_pid/status" 2>/dev/null; then
    alive=0
    break
  fi
  rss=$(awk '/^VmRSS/ { print $2 }' "/proc/$program_pid/status")
  threads=$(awk '/^Threads/ { print $2 }' "/proc/$program_pid/status")
  fds=$(ls "/proc/$program_pid/fd" | wc -l)
  # Threads started after the first 5 s: download workers, which come and go with the servers'
  # turns (at most one per server); the others run from the start to the end.
  start=$(sed 's/^.*) //' "/proc/$program_pid/stat" | awk '{ print $20 }')
  late=$(cat /proc/"$program_pid"/task/*/stat 2>/dev/null |
    sed 's/^.*) //' | awk -v s="$start" -v hz="$(getconf CLK_TCK)" '$20 > s + 5 * hz { n++ } END { print n + 0 }')
  echo "$(( now - t0 )) $rss $fds $threads $late" >> "$samples"
  (( now >= end )) && break
  sleep $(( end - now < 10 ? end - now : 10 ))
done

stop_at=$(date +%s.%N)
rc=0
if [ "$alive" = 1 ]; then stop_program || rc=$?; else wait "$program_pid" || rc=$?; fi
program_pid=
kill -TERM "$server_pid"
wait "$server_pid" || true
server_pid=

echo "== Samples (seconds, VmRSS kB, open fds, threads, threads started after 5 s)"
column -t "$samples"
echo "== Pages"
checked=0
python3 "$here/soak_server.py" check --log "$work/served.json" --pages "$work/webpages.dat" \
  --stop "$stop_at" --settle 10 || checked=$?
echo "== Targets"
awk -v alive="$alive" -v rc="$rc" -v checked="$checked" -v servers="$servers" '
  # The median resident size of the samples taken from `from` to before `to` seconds.
  function median_between(from, to,    i, j, n, v, x) {
    n = 0
    for (i = 1; i <= NR; i++) if (t[i] >= from && t[i] < to) v[++n] = rss[i]
    for (i = 2; i <= n; i++) { x = v[i]; for (j = i - 1; j >= 1 && v[j] > x; j--) v[j + 1] = v[j]; v[j + 1] = x }
    return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
  }
  { t[NR] = $1; rss[NR] = $2; fd[NR] = $3; th[NR] = $4; late[NR] = $5 }
  END {
    ok = 1
    printf "no crash: %s (exit code after SIGTERM %d)\n", (alive && rc == 0) ? "yes" : "NO", rc
    if (!alive || rc != 0) ok = 0
    printf "every final status right: %s\n", checked == 0 ? "yes" : "NO"
    if (checked != 0) ok = 0
    # Memory grows while the first cycles fill caches; growth is judged from 5 minutes on. Pages of
    # several megabytes in flight move single samples by several megabytes either way, so a minute
    # of samples is summed up by its median: the minute from 5:00 against the last minute.
    base = 0
    for (i = 1; i <= NR; i++) if (t[i] >= 300) { base = i; break }
    if (base && t[NR] - t[base] >= 120) {
      first = median_between(t[base], t[base] + 60)
      last = median_between(t[NR] - 59, t[NR] + 1)
      growth = last - first
      printf "RSS growth after the first 5 minutes (median of a minute): %d kB (%d -> %d kB, target under 2048): %s\n",
             growth, first, last, growth < 2048 ? "yes" : "NO"
      if (growth >= 2048) ok = 0
      printf "RSS per minute, lowest/median (MB):"
      for (m = 0; m * 60 <= t[NR]; m++) {
        low = 0
        for (i = 1; i <= NR; i++) if (t[i] >= m * 60 && t[i] < m * 60 + 60 && (!low || rss[i] < low)) low = rss[i]
        if (low) printf " %d: %.1f/%.1f", m, low / 1024, median_between(m * 60, m * 60 + 60) / 1024
      }
      printf "\n"
    } else {
      printf "RSS growth after the first 5 minutes: not judged (run shorter than 7 minutes); "
      printf "first to last sample %d -> %d kB\n", rss[1], rss[NR]
    }
    # Flat: connections and download threads come and go, so the floor of each count is compared,
    # first half of the judged samples against the second. A shorter run is judged from 30 s on,
    # once the program has started its threads.
    # Workers come and go with the turns of the servers, one per server at most, and a worker holds a
    # connection and its cancel signal: the floors may rise while more servers keep a worker busy,
    # up to the bound the servers set, without a leak. So the threads started later (the workers) are
    # judged against that bound, the threads of the start must stay as they were, and the open
    # files may grow by one plus two for each worker the floor gained.
    from = base && base < NR ? base : 0
    if (!from) for (i = 1; i <= NR; i++) if (t[i] >= 30) { from = i; break }
    if (!from) from = 1
    mid = int((from + NR) / 2)
    f1 = t1 = f2 = t2 = 1e9; fmax = tmax = lmax = 0
    for (i = from; i <= NR; i++) {
      if (i <= mid) { if (fd[i] < f1) f1 = fd[i]; if (th[i] < t1) t1 = th[i] }
      else { if (fd[i] < f2) f2 = fd[i]; if (th[i] < t2) t2 = th[i] }
      if (fd[i] > fmax) fmax = fd[i]; if (th[i] > tmax) tmax = th[i]; if (late[i] > lmax) lmax = late[i]
    }
    if (f2 == 1e9) { f2 = f1; t2 = t1 }
    early1 = th[from] - late[from]; early2 = th[NR] - late[NR]
    gained = t2 > t1 ? t2 - t1 : 0
    flat = (f2 - f1 <= 1 + 2 * gained && early2 <= early1 && lmax <= servers)
    printf "open fds floor %d -> %d (max %d), threads floor %d -> %d (max %d), from %d s on\n",
           f1, f2, fmax, t1, t2, tmax, t[from]
    printf "threads of the start %d -> %d, workers at most %d (bound: %d servers), fds gained %d (allowed %d): %s\n",
           early1, early2, lmax, servers, f2 - f1, 1 + 2 * gained, flat ? "flat" : "GROWING"
    if (!flat) ok = 0
    exit ok ? 0 : 1
  }' "$samples"
