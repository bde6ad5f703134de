#!/usr/bin/env bash
# The window with its history locked by another program: an sqlite3 shell holds BEGIN IMMEDIATE on
# history.db from before the start, while 50 due pages on 10 loopback servers are checked. Printed
# beside each target: the window's longest answer to _NET_WM_PING (bench/wm_ping.py, one ping every
# 5 ms for 15 s, from the start of the checks), whether the checks land in the history once the lock
# is released, and SIGTERM to exit in a second run whose lock is held to the end.
# Usage: bench/locked_history_measure.sh [path/to/vantrel]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exe=$(realpath "${1:-$here/../build/bin/vantrel}")
source "$here/measure_common.sh"
ensure_display "$exe"

pages=50
work=$(mktemp -d)
server_pid=""
shell_pid=""
cleanup() {
  [ -n "${program_pid:-}" ] && kill -KILL "$program_pid" 2>/dev/null || true
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  [ -n "$shell_pid" ] && kill "$shell_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
make_copy "$exe" "$work"
port=$(( 20000 + RANDOM % 20000 ))
: > "$work/served.log"
python3 "$here/scale_servers.py" "$port" "$work/served.log" 2 11 0 2000 > "$work/servers.out" 2>&1 &
server_pid=$!
for (( i = 0; i < 200; i++ )); do grep -q ready "$work/servers.out" 2>/dev/null && break; sleep 0.05; done
grep -q ready "$work/servers.out" || { echo "servers did not start" >&2; exit 1; }

write_list() {
  local i
  {
    printf '[main]\r\ncount=%d\r\nstart=0\r\nsort=0\r\nrecheck=0\r\n' "$pages"
    for (( i = 1; i <= pages; i++ )); do
      printf '[web%d]\r\ncaption=Page %d\r\nstatus=0\r\nitem1=http://127.0.0.%d:%d/page%d\r\n' \
        "$i" "$i" $(( 2 + i % 10 )) "$port" "$i"
      printf 'item2=8\r\nitem3=\r\nitem4=\r\n'
    done
  } > "$work/webpages.dat"
}
# The shell, fed through a pipe kept open on descriptor 3; say SQL sends it a line.
lock_history() {
  rm -f "$work/sql"; mkfifo "$work/sql"
  sqlite3 "$work/history.db" < "$work/sql" > "$work/shell.out" 2>&1 &
  shell_pid=$!
  exec 3> "$work/sql"
  say "PRAGMA journal_mode=WAL; BEGIN IMMEDIATE; CREATE TABLE IF NOT EXISTS held(x); SELECT 'held';"
  for (( i = 0; i < 100; i++ )); do grep -q held "$work/shell.out" && return 0; sleep 0.05; done
  echo "the shell took no lock: $(cat "$work/shell.out")" >&2; return 1
}
say() { echo "$1" >&3; }
end_shell() { exec 3>&-; wait "$shell_pid" 2>/dev/null || true; shell_pid=""; }
checks_recorded() { sqlite3 "$work/history.db" "SELECT count(*) FROM checks" 2>/dev/null || echo 0; }
wait_window() {
  local i w
  for (( i = 0; i < 2000; i++ )); do
    w=$(xdotool search --onlyvisible --all --pid "$program_pid" --name '^Vantrel ' 2>/dev/null | head -1) || true
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.01
  done
  return 1
}
results=()
report() { # LABEL TARGET OURS
  results+=("$(printf '%-56s target %-12s ours %s' "$1" "$2" "$3")")
  echo "${results[-1]}"
}

# 1. Locked from the start, released after the pings.
write_list
lock_history
# Without descriptor 3: the shell sees the end of its input only when no copy of the pipe is open.
start_program "$work" 3>&-
window=$(wait_window) || { echo "no window" >&2; exit 1; }
ping=$(python3 "$here/wm_ping.py" "$window" 15 5 || echo "no answer")
longest=$(awk '{ for (i = 1; i < NF; i++) if ($i == "longest") print $(i + 1) }' <<< "$ping")
served=$(wc -l < "$work/served.log")
report "window's answer, history locked ($served checks meanwhile)" "<= 100 ms" "${longest:-?} ms ($ping)"
say "ROLLBACK; SELECT 'released';"
end_shell
t0=$(now_ns)
for (( i = 0; i < 300; i++ )); do [ "$(checks_recorded)" -ge "$pages" ] && break; sleep 0.1; done
report "  lock released: checks in the history" "$pages" "$(checks_recorded) after $(( ($(now_ns) - t0) / 1000000 )) ms"
stop_program || true
program_pid=

# 2. Locked to the end: the end waits at most a second for the history.
rm -f "$work/history.db" "$work/history.db-wal" "$work/history.db-shm" "$work/history.db.dropped"
: > "$work/served.log"
write_list
lock_history
start_program "$work" -s 3>&-
for (( i = 0; i < 300; i++ )); do [ "$(wc -l < "$work/served.log")" -ge "$pages" ] && break; sleep 0.1; done
sleep 1  # the checks reach the history's queue
t0=$(now_ns)
rc=0; stop_program || rc=$?
program_pid=
report "  SIGTERM to exit, $pages checks waiting for the lock" "<= 1500 ms" \
  "$(( ($(now_ns) - t0) / 1000000 )) ms (exit code $rc)"
say "ROLLBACK;"
end_shell

echo
echo "== Summary ($(uptime | sed 's/.*load/load/'))"
printf '%s\n' "${results[@]}"
