# Sourced by scripts/with-display.sh and scripts/with-desktop.sh.
# start_xvfb SIZE starts Xvfb on a display of its own and sets `display` and `xvfb_pid`. Xvfb's own
# pick of a free display (-displayfd, xvfb-run -a) can be a number another X server on a shared
# machine owns already, so a random high number is tried instead and kept only once its lock file
# holds this Xvfb's pid and a client gets an answer from it. Returns 1, with no Xvfb left running,
# when ten numbers failed.
start_xvfb() {
  local size=$1 n
  display=
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    n=$(( 1000 + RANDOM % 9000 ))
    [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 "${size}x24" -nolisten tcp -noreset >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 200); do
      if [ "$(tr -d ' \n' 2>/dev/null <"/tmp/.X$n-lock")" = "$xvfb_pid" ] &&
         DISPLAY=:$n xdotool getdisplaygeometry >/dev/null 2>&1; then
        display=:$n
        return 0
      fi
      kill -0 "$xvfb_pid" 2>/dev/null || break  # lost the race for this number
      sleep 0.05
    done
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=
  done
  return 1
}
