#!/usr/bin/env bash
# Downloads side by side at the latency of real servers, each figure printed beside its target and
# beside curl's from the same run (curl --parallel --parallel-immediate --parallel-max 64 over the
# same URLs; curl opens as many connections to one server as it has URLs there, we open one):
# - cycle: 1,000 due pages on 250 servers (127.0.0.2 ... 127.0.0.251) answering after 1 s: time
#   until all are fetched and CPU per page (bench/cpu_clock.py: the kernel's count in ns of the
#   time every thread ran, user and system, for both programs), the median of
#   VANTREL_CYCLE_ROUNDS rounds (3 by default) with each round's figure; peak resident memory, and
#   the resident memory and threads once the workers have ended (after VANTREL_IDLE_AFTER
#   seconds, 100 by default, in the first round);
# - slow: 8 trickling servers and 2 hung ones listed before a normal server (200 ms answers):
#   when the normal server's pages are fetched, and SIGTERM to exit meanwhile;
# - term: 80 hung servers: downloads in flight (the bound), then SIGTERM to exit;
# - watch (only when named): 600 one-minute pages on 150 servers answering after 1 s, watched for
#   10 minutes: the longest interval between two checks of a page.
# The servers are bench/scale_servers.py; every wait below is bounded.
# Usage: bench/parallel_measure.sh [path/to/vantrel]
# VANTREL_PARALLEL_PARTS picks runs: any of cycle slow term watch ("cycle slow term" by default).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exe=$(realpath "${1:-$here/../build/bin/vantrel}")
source "$here/measure_common.sh"
ensure_display "$exe"

work=$(mktemp -d)
server_pid=""
curl_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  [ -n "$curl_pid" ] && kill -KILL "$curl_pid" 2>/dev/null || true
  [ -n "${program_pid:-}" ] && kill -KILL "$program_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
make_copy "$exe" "$work"
port=$(( 20000 + RANDOM % 20000 ))
idle_after=${VANTREL_IDLE_AFTER:-100}
results=()

report() { # LABEL TARGET OURS CURL
  results+=("$(printf '%-48s target %-14s ours %-18s curl %s' "$1" "$2" "$3" "${4:--}")")
  echo "${results[-1]}"
}
ms_since() { echo $(( ($(now_ns) - $1) / 1000000 )); }
status_kb() { awk -v k="$1:" '$1 == k { print $2 }' "/proc/$program_pid/status"; }
cpu_ns() { python3 "$here/cpu_clock.py" "$program_pid"; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f MiB", k / 1024 }'; }

# write_list FILE INTERVAL HOSTS...: one page per host given, in that order; all due now.
write_list() {
  local file=$1 interval=$2; shift 2
  printf '%s\n' "$@" | awk -v port="$port" -v interval="$interval" '
    { host[NR] = $0 }
    END {
      printf "[main]\r\ncount=%d\r\nstart=0\r\nsort=0\r\nrecheck=0\r\n", NR
      for (i = 1; i <= NR; i++) {
        printf "[web%d]\r\ncaption=Page %d\r\nstatus=0\r\nitem1=http://%s:%d/page%d\r\n", i, i, host[i], port, i
        printf "item2=%s\r\nitem3=\r\nitem4=\r\n", interval
      }
    }' > "$file"
  awk -v port="$port" '/^item1=/ { sub(/^item1=/, ""); sub(/\r$/, ""); printf "url = \"%s\"\noutput = \"/dev/null\"\n", $0 }' \
    "$file" > "$work/curl.cfg"
}
# hosts FIRST LAST ROUNDS: 127.0.0.FIRST ... 127.0.0.LAST, ROUNDS times over.
hosts() { local r n; for (( r = 0; r < $3; r++ )); do for (( n = $1; n <= $2; n++ )); do echo "127.0.0.$n"; done; done; }

start_servers() {  # FIRST LAST DELAY_MS BYTES [--hang|--trickle ADDRESS]...
  : > "$work/served.log"; : > "$work/served.log.slow"
  python3 "$here/scale_servers.py" "$port" "$work/served.log" "$@" > "$work/servers.out" 2>&1 &
  server_pid=$!
  for (( i = 0; i < 200; i++ )); do grep -q ready "$work/servers.out" 2>/dev/null && return 0; sleep 0.05; done
  echo "servers did not start" >&2; return 1
}
stop_servers() { kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; server_pid=""; }
clear_logs() { : > "$work/served.log"; : > "$work/served.log.slow"; }

# seconds_to LINES T0_NS [PATTERN]: seconds from T0 to the LINES-th answer (matching PATTERN).
seconds_to() {
  awk -v t0="$2" -v want="$1" -v pat="${3:-.}" '$0 ~ pat && ++n == want { printf "%.1f s", $1 - t0 / 1e9; found = 1 }
    END { if (!found) printf "only %d of %d", n, want }' "$work/served.log"
}

# curl over the URLs of the list, under bench/cpu_clock.py, which writes "WALL_S CPU_NS PEAK_KIB"
# to curl.time; sets curl_pid.
start_curl_measured() {
  python3 "$here/cpu_clock.py" run "$work/curl.time" \
    curl -s --parallel --parallel-immediate --parallel-max 64 -K "$work/curl.cfg" > /dev/null 2>&1 &
  curl_pid=$!
}
# curl over the URLs of the list; sets curl_pid. ARGS... go to curl.
start_curl() {
  /usr/bin/time -f "%e %U %S %M" -o "$work/curl.time" \
    curl -s --parallel --parallel-immediate --parallel-max 64 -K "$work/curl.cfg" "$@" > /dev/null 2>&1 &
  curl_pid=$!
}

# median VALUE...: the middle one of figures such as "17.5 s" (by number), then all of them.
median() {
  local mid; mid=$(printf '%s\n' "$@" | sort -g | awk -v n=$# 'NR == int((n + 1) / 2)')
  if [ $# -eq 1 ]; then echo "$mid"; else echo "$mid (of $(IFS=,; echo "$*" | sed 's/,/, /g'))"; fi
}

# Ours and curl in turn, VANTREL_CYCLE_ROUNDS times (3 by default): a few milliseconds of CPU per
# run are at stake, and on two shared cores one run of either can be a fifth off its usual figure.
cycle_run() {
  local t0 cpu0 cpu1 round rounds=${VANTREL_CYCLE_ROUNDS:-3} peak=0 curl_peak=0 rss="" threads=""
  local -a ours=() theirs=() cpu=() curl_cpu=()
  start_servers 2 251 1000 2000
  for (( round = 1; round <= rounds; round++ )); do
    # Each round starts afresh: no history, every page due now (then a day later).
    rm -f "$work"/history.db*
    write_list "$work/webpages.dat" 8 $(hosts 2 251 4)
    clear_logs
    t0=$(now_ns)
    start_program "$work" -s
    sleep 0.8  # started, no answer yet: what follows is the checks' CPU
    cpu0=$(cpu_ns)
    lines_within "$work/served.log" 1000 240 || true
    sleep 1  # the last results are applied
    cpu1=$(cpu_ns)
    ours+=("$(seconds_to 1000 "$t0")")
    cpu+=("$(awk -v ns=$(( cpu1 - cpu0 )) 'BEGIN { printf "%.3f ms", ns / 1e6 / 1000 }')")
    local hwm; hwm=$(status_kb VmHWM)
    (( hwm > peak )) && peak=$hwm
    if [ "$round" -eq 1 ]; then
      echo "waiting ${idle_after} s for the workers to end"
      sleep "$idle_after"
      rss=$(status_kb VmRSS); threads=$(awk '$1 == "Threads:" { print $2 }' "/proc/$program_pid/status")
    fi
    stop_program || true
    program_pid=

    clear_logs
    t0=$(now_ns)
    start_curl_measured
    wait "$curl_pid" || true
    curl_pid=""
    theirs+=("$(seconds_to 1000 "$t0")")
    read -r _ cns cm < "$work/curl.time"
    curl_cpu+=("$(awk -v ns="$cns" 'BEGIN { printf "%.3f ms", ns / 1e6 / 1000 }')")
    curl_peak=$(( cm > curl_peak ? cm : curl_peak ))
    echo "round $round: ours ${ours[-1]}, ${cpu[-1]} a page; curl ${theirs[-1]}, ${curl_cpu[-1]} a page"
  done
  stop_servers
  report "1,000 pages, 250 servers, 1 s answers: all" "<= 20 s, 1.25x" "$(median "${ours[@]}")" "$(median "${theirs[@]}")"
  report "  CPU per page (user + system)" "<= curl" "$(median "${cpu[@]}")" "$(median "${curl_cpu[@]}")"
  report "  peak resident memory (VmHWM)" "< 80 MiB" "$(mib "$peak")" "$(mib "$curl_peak")"
  # The idle footprint of a program that has not checked anything is bench/footprint_measure.sh's;
  # after a cycle the history and the page texts add a few MiB, with 8 workers as with 64.
  report "  resident after ${idle_after} s idle (workers ended)" "as with 8" "$(mib "$rss"), $threads threads"
}

slow_run() {
  local t0 ours_first ours_all theirs theirs_first stopped
  local -a extra=()
  for n in 2 3 4 5 6 7 8 9; do extra+=(--trickle "127.0.0.$n"); done
  extra+=(--hang 127.0.0.10 --hang 127.0.0.11)
  start_servers 2 12 200 2000 "${extra[@]}"
  write_list "$work/webpages.dat" 0 $(hosts 2 11 4) $(hosts 12 12 4)
  t0=$(now_ns)
  start_program "$work" -s
  lines_within "$work/served.log" 4 60 || true
  ours_first=$(seconds_to 1 "$t0"); ours_all=$(seconds_to 4 "$t0")
  local slow; slow=$(wc -l < "$work/served.log.slow")
  t0=$(now_ns)
  stop_program || true
  program_pid=
  stopped="$(ms_since "$t0") ms"

  clear_logs
  t0=$(now_ns)
  start_curl
  lines_within "$work/served.log" 4 60 || true
  theirs_first=$(seconds_to 1 "$t0"); theirs=$(seconds_to 4 "$t0")
  t0=$(now_ns)
  kill -TERM "$curl_pid" 2>/dev/null || true
  wait "$curl_pid" || true
  curl_pid=""
  stop_servers
  report "8 trickling + 2 hung first: normal server, 1st" "<= 5 s" "$ours_first" "$theirs_first"
  report "  all 4 of its pages" "<= 5 s" "$ours_all ($slow slow requests)" "$theirs"
  report "  SIGTERM to exit meanwhile" "<= 1500 ms" "$stopped" "$(ms_since "$t0") ms"
}

term_run() {
  local t0 ours inflight theirs
  local -a extra=()
  for (( n = 2; n <= 81; n++ )); do extra+=(--hang "127.0.0.$n"); done
  start_servers 2 81 0 2000 "${extra[@]}"
  write_list "$work/webpages.dat" 0 $(hosts 2 81 1)
  start_program "$work" -s
  lines_within "$work/served.log.slow" 64 60 || true
  sleep 1  # would more start?
  inflight=$(wc -l < "$work/served.log.slow")
  t0=$(now_ns)
  stop_program || true
  program_pid=
  ours="$(ms_since "$t0") ms"

  clear_logs
  start_curl
  lines_within "$work/served.log.slow" 64 60 || true
  sleep 1
  local theirs_inflight; theirs_inflight=$(wc -l < "$work/served.log.slow")
  t0=$(now_ns)
  kill -TERM "$curl_pid" 2>/dev/null || true
  wait "$curl_pid" || true
  curl_pid=""
  theirs="$(ms_since "$t0") ms"
  stop_servers
  report "80 hung servers: downloads in flight" "64" "$inflight" "$theirs_inflight"
  report "  SIGTERM to exit with them in flight" "<= 1000 ms" "$ours" "$theirs"
}

watch_run() {
  start_servers 2 151 1000 2000
  write_list "$work/webpages.dat" 0 $(hosts 2 151 4)
  local t0; t0=$(now_ns)
  start_program "$work" -s
  sleep 630
  stop_program || true
  program_pid=
  stop_servers
  # Per page: the longest gap between two answers in the first 10 minutes, and the answers.
  local gaps
  gaps=$(awk -v end="$(( t0 / 1000000000 + 600 ))" '$1 <= end {
      if ($2 in last) { g = $1 - last[$2]; if (g > worst) worst = g }
      last[$2] = $1; n[$2]++ }
    END { few = 1e9; for (p in n) { pages++; if (n[p] < few) few = n[p] }
      printf "%.1f s (%d pages, fewest checks %d)", worst, pages, few }' "$work/served.log")
  report "600 one-minute pages, 150 servers: longest gap" "<= 70 s" "$gaps"
}

parts=" ${VANTREL_PARALLEL_PARTS:-cycle slow term} "
part() { [[ "$parts" == *" $1 "* ]]; }
part cycle && cycle_run
part slow && slow_run
part term && term_run
part watch && watch_run

echo
echo "== Summary ($(uptime | sed 's/.*load/load/'))"
printf '%s\n' "${results[@]}"
