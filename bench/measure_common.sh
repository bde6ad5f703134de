# Shared by the measuring scripts (sourced, not run): a display with a tray host, a copy of the
# program with a page list of many entries that are not due, and starting/stopping it.

# Re-runs the calling script on a virtual display of its own with a tray host
# (scripts/with-display.sh), which it stops again when the script ends.
ensure_display() {
  if [ -z "${VANTREL_MEASURE_DISPLAY:-}" ]; then
    VANTREL_MEASURE_DISPLAY=1 exec "$(dirname "${BASH_SOURCE[0]}")/../scripts/with-display.sh" "$0" "$@"
  fi
}

# Local wall-clock seconds counted as if UTC: the program's check stamp of "now".
now_stamp() {
  local z sign off
  z=$(date +%z); sign=${z:0:1}
  off=$(( 10#${z:1:2} * 3600 + 10#${z:3:2} * 60 ))
  [ "$sign" = - ] && off=$(( -off ))
  echo $(( $(date +%s) + off ))
}

# write_page_list FILE COUNT: COUNT entries checked just now, interval "8" (one day).
write_page_list() {
  local file=$1 count=$2 stamp i
  stamp=$(now_stamp)
  {
    printf '[main]\r\ncount=%d\r\nstart=0\r\nsort=0\r\nrecheck=0\r\n' "$count"
    for (( i = 1; i <= count; i++ )); do
      printf '[web%d]\r\ncaption=Page %d\r\nstatus=0\r\nitem1=http://127.0.0.1:9/page%d\r\n' "$i" "$i" "$i"
      printf 'item2=8\r\nitem3=%s\r\nitem4=CRC of a text above is: 414FA339\r\n' "$stamp"
    done
  } > "$file"
}

# make_copy EXE DIR: the executable copied into DIR, with a private runtime directory.
make_copy() {
  cp "$1" "$2/vantrel"
  mkdir -p -m 0700 "$2/run"
}

# start_program DIR ARGS...: starts the copy in DIR; sets program_pid.
start_program() {
  local dir=$1; shift
  env -u DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR="$dir/run" "$dir/vantrel" "$@" >/dev/null 2>&1 &
  program_pid=$!
}

# wait_started [XDOTOOL-OPTIONS...]: waits (at most 10 s) until the program holds its lock file and
# has a window that `xdotool search OPTIONS --pid` finds.
wait_started() {
  local i
  for (( i = 0; i < 200; i++ )); do
    grep -q " FLOCK .* $program_pid " /proc/locks && xdotool search "$@" --pid "$program_pid" >/dev/null && return 0
    sleep 0.05
  done
  return 1
}

# stop_program: SIGTERM and wait; prints nothing, returns the exit code.
stop_program() {
  kill -TERM "$program_pid" 2>/dev/null || true
  local rc=0
  wait "$program_pid" || rc=$?
  return $rc
}

# now_ns: monotonic-enough wall clock in nanoseconds.
now_ns() { date +%s%N; }

# lines_within FILE LINES SECONDS: waits until FILE has LINES lines (at most SECONDS). While it
# waits it starts no process: a fork and an exec every tick cost this kind of machine as much
# processor as the program being measured, which they would slow down.
lines_within() {
  local i fifo
  local -a lines
  if [ -z "${tick_fd:-}" ]; then
    fifo=$(mktemp -u); mkfifo "$fifo"; exec {tick_fd}<>"$fifo"; rm -f "$fifo"
  fi
  for (( i = 0; i < $3 * 20; i++ )); do
    mapfile -t lines < "$1"
    [ "${#lines[@]}" -ge "$2" ] && return 0
    read -rt 0.05 -u "$tick_fd" _ || true  # nothing is ever written: a 50 ms sleep
  done
  return 1
}
