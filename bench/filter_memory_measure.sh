#!/usr/bin/env bash
# Memory with large pages and filters: eight pages of 100 MB (HTML of many short lines, on
# 127.0.0.2 ... 127.0.0.9, bench/scale_servers.py), all due at start, checked once with each kind
# of filter in turn (none, a CSS selector, an XPath selector, visible text only, ignored lines), a
# fresh program for each. Printed beside its target: the peak resident memory (VmHWM) and how long
# after the last page was sent the resident memory is back under 60 MiB (sampled every 0.2 s).
# The filters are set in the history file as the page's dialog would keep them.
# Usage: bench/filter_memory_measure.sh [path/to/vantrel] [page MB, 100 by default]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exe=$(realpath "${1:-$here/../build/bin/vantrel}")
page_mb=${2:-100}
source "$here/measure_common.sh"
ensure_display "$exe" "$page_mb"

peak_target_kb=$(( 300 * 1024 ))
back_target_kb=$(( 60 * 1024 ))
back_within_s=15
pages=8

work=$(mktemp -d)
server_pid=""
cleanup() {
  [ -n "${program_pid:-}" ] && kill -KILL "$program_pid" 2>/dev/null || true
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
make_copy "$exe" "$work"
port=$(( 20000 + RANDOM % 20000 ))
: > "$work/served.log"
python3 "$here/scale_servers.py" "$port" "$work/served.log" 2 $(( pages + 1 )) 0 $(( page_mb * 1024 * 1024 )) --lines \
  > "$work/servers.out" 2>&1 &
server_pid=$!
for (( i = 0; i < 600; i++ )); do grep -q ready "$work/servers.out" 2>/dev/null && break; sleep 0.1; done
grep -q ready "$work/servers.out" || { echo "servers did not start" >&2; exit 1; }

url() { echo "http://127.0.0.$(( $1 + 1 )):$port/page$1"; }
# write_list STAMP: the eight pages, due now when STAMP is empty, else checked at STAMP.
write_list() {
  local i
  {
    printf '[main]\r\ncount=%d\r\nstart=0\r\nsort=0\r\nrecheck=0\r\n' "$pages"
    for (( i = 1; i <= pages; i++ )); do
      printf '[web%d]\r\ncaption=Page %d\r\nstatus=0\r\nitem1=%s\r\nitem2=8\r\nitem3=%s\r\nitem4=\r\n' \
        "$i" "$i" "$(url "$i")" "$1"
    done
  } > "$work/webpages.dat"
}
status_kb() { awk -v k="$1:" '$1 == k { print $2 }' "/proc/$program_pid/status"; }

# The history file, made by the program itself: started once with one page due that fails at once.
printf '[main]\r\ncount=1\r\nstart=0\r\nsort=0\r\nrecheck=0\r\n[web1]\r\ncaption=Closed\r\nstatus=0\r\n%s\r\n' \
  'item1=http://127.0.0.1:9/' 'item2=8' 'item3=' 'item4=' > "$work/webpages.dat"
start_program "$work" -s
for (( i = 0; i < 100; i++ )); do [ -s "$work/history.db" ] && break; sleep 0.1; done
stop_program || true
program_pid=
[ -s "$work/history.db" ] || { echo "no history file was made" >&2; exit 1; }

# set_filter KIND SELECTOR VISIBLE PATTERN: every page's filters (kind 0 none, 1 CSS, 2 XPath).
set_filter() {
  local i sql="BEGIN; DELETE FROM ignore_lines; DELETE FROM settings;"
  for (( i = 1; i <= pages; i++ )); do
    local u; u=$(url "$i")
    sql+="INSERT OR IGNORE INTO pages(url) VALUES('$u');"
    sql+="INSERT INTO settings VALUES((SELECT id FROM pages WHERE url = '$u'), $1, '$2', $3, 1);"
    [ -n "$4" ] && sql+="INSERT INTO ignore_lines VALUES((SELECT id FROM pages WHERE url = '$u'), 0, '$4');"
  done
  sqlite3 "$work/history.db" "$sql COMMIT;"
}

results=()
run() {  # LABEL KIND SELECTOR VISIBLE PATTERN
  set_filter "$2" "$3" "$4" "$5"
  write_list ""
  : > "$work/served.log"
  start_program "$work" -s
  local i sent="" back="" rss low=0
  # Every page sent (bounded: 8 pages at loopback speed take seconds, not minutes).
  for (( i = 0; i < 3000; i++ )); do
    [ "$(wc -l < "$work/served.log")" -ge "$pages" ] && { sent=$(now_ns); break; }
    sleep 0.1
  done
  if [ -n "$sent" ]; then
    for (( i = 0; i < 5 * (back_within_s + 15); i++ )); do
      rss=$(status_kb VmRSS)
      if [ "$rss" -lt "$back_target_kb" ]; then back=$(( ($(now_ns) - sent) / 1000000 )); low=$rss; break; fi
      sleep 0.2
    done
  fi
  local peak; peak=$(status_kb VmHWM)
  [ -z "$back" ] && low=$(status_kb VmRSS)
  stop_program || true
  program_pid=
  local verdict=met
  [ "$peak" -lt "$peak_target_kb" ] || verdict=MISSED
  [ -n "$back" ] && [ "$back" -le $(( back_within_s * 1000 )) ] || verdict=MISSED
  results+=("$(printf '%-22s peak %6.1f MiB (target < 300)   under 60 MiB after %-9s (target <= %d s, then %.1f MiB)   %s' \
    "$1" "$(awk -v k="$peak" 'BEGIN { print k / 1024 }')" "${back:-never}${back:+ ms}" "$back_within_s" \
    "$(awk -v k="$low" 'BEGIN { print k / 1024 }')" "$verdict")")
  echo "${results[-1]}"
}

run "no filter" 0 "" 0 ""
run "CSS selector" 1 "div.item p" 0 ""
run "XPath selector" 2 "//div[@class=\"item\"]/p" 0 ""
run "visible text only" 0 "" 1 ""
run "ignored lines" 0 "" 0 "^[0-9]+\$"
echo
echo "== Summary: $pages pages of $page_mb MB each ($(uptime | sed 's/.*load/load/'))"
printf '%s\n' "${results[@]}"
