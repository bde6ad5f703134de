#!/usr/bin/env bash
# The check path against curl, every figure printed beside its target. nginx on loopback (the
# tests' fixture, started by `fetch_bench --serve`) logs each request's end time and duration, so
# a check is timed from the server's side: from the start of a big page's request to the start of
# the next request on the same connection (a tiny page right after it). Three clients fetch the
# same pages in turn, several rounds: curl in one process, the bare fetch path (fetch_bench) and
# the real program (hidden, its list holding the pages due). Then, timed
# from outside (ours and curl in turn): a 2 MB page and 1,000 pages of 100 KB on one kept
# connection; peak memory of the 100 MB pages, of a chunked 100 MB page and of a lying
# Content-Length.
# Usage: bench/fetch_bench.sh [build-dir]   (a Release build with the vantrel and fetch_bench targets)
# ROUNDS (5) sets the rounds of the check timing, RUNS (7) the runs timed from outside; PARTS
# picks parts: any of check timed memory (all by default).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-$here/../build}")
bench=$build/bin/fetch_bench
exe=$build/bin/vantrel
rounds=${ROUNDS:-5}
runs=${RUNS:-7}
for f in "$bench" "$exe"; do
  [ -x "$f" ] || { echo "build $f first (cmake --build $build --target vantrel fetch_bench)" >&2; exit 1; }
done
for tool in curl xdotool; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done
source "$here/measure_common.sh"
ensure_display "$build"

dir=$(mktemp -d /tmp/vantrel-fetch-bench-XXXXXX)
# nginx with the pages, started by the tests' fixture; it stops when its stdin closes.
coproc server { "$bench" --serve; }
server_pid=$server_PID
server_in=${server[1]}
cleanup() {
  [ -n "${program_pid:-}" ] && kill -KILL "$program_pid" 2>/dev/null || true
  eval "exec $server_in>&-"
  wait "$server_pid" 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT
read -r port nginx_dir <&"${server[0]}" || { echo "nginx did not start" >&2; exit 1; }
log=$nginx_dir/access.log

base=http://127.0.0.1:$port
latin=$base/latin1-100m.html
utf8=$base/utf8/utf8-100m.html
mixed=$base/utf8/mixed-100m.html
chunked=$base/chunked/latin1-100m.html
small=$base/page-2m.html
ka=$base/page-100k.html
tiny=$base/tiny.html

results=()
report() { results+=("$(printf '%-58s %-22s target %s' "$1" "$2" "$3")"); echo "${results[-1]}"; }

# --- Check time from the server's log ---------------------------------------------------------
# The pages of one round for client NAME: each big page followed by a tiny one, tagged so that
# the log tells rounds and clients apart.
urls() { echo "$mixed?$1 $tiny?$1-mixed $latin?$1 $tiny?$1-latin1"; }

# Seconds from the start of each tagged big page's request to the start of the next request.
gaps() {  # TAG
  awk -v tag="$1" '{ split($3, p, "?"); if (p[2] == tag || index(p[2], tag "-") == 1) { n++; s[n] = $1 - $2; u[n] = p[1] } }
    END { for (i = 1; i < n; i++) if (u[i] !~ /tiny/) printf "%s %.4f\n", u[i], s[i + 1] - s[i] }' "$log"
}

# Polls rarely and without starting processes: what runs meanwhile shares the processors with
# the program being timed (the times themselves come from the log).
wait_logged() {  # TAG COUNT SECONDS
  local i n line
  for (( i = 0; i < $3 * 4; i++ )); do
    n=0
    while read -r line; do [[ "$line" == *"?$1"* ]] && n=$(( n + 1 )); done < "$log"
    [ "$n" -ge "$2" ] && return 0
    read -r -t 0.25 <> <(:) || true
  done
  return 1
}

cpu_of() { /usr/bin/time -f '%U %S' "$@" 2>&1 >/dev/null | tail -1 | awk '{ printf "%.3f", $1 + $2 }'; }

make_copy "$exe" "$dir"
program_round() {  # TAG: the program, hidden, with the four pages due 4 s after its start
  local tag=$1 i=0 u stamp
  # Checked 56 s ago with a one-minute interval: due once the start is over, as in a long run.
  stamp=$(( $(now_stamp) - 56 ))
  {
    printf '[main]\r\ncount=4\r\nstart=0\r\nsort=0\r\nrecheck=0\r\n'
    for u in $(urls "$tag"); do
      i=$(( i + 1 ))
      printf '[web%d]\r\ncaption=Page %d\r\nstatus=0\r\nitem1=%s\r\nitem2=0\r\nitem3=%s\r\nitem4=\r\n' "$i" "$i" "$u" "$stamp"
    done
  } > "$dir/webpages.dat"
  start_program "$dir" -s
  wait_logged "$tag" 4 60 || echo "program round $tag: not all pages were fetched" >&2
  local ticks; ticks=$(sed 's/^.*) //' "/proc/$program_pid/stat" | awk '{ print $12 + $13 }')
  stop_program || true
  program_pid=
  awk -v t="$ticks" -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "%.3f", t / hz }'
}

parts=" ${PARTS:-check timed memory} "
part() { [[ "$parts" == *" $1 "* ]]; }

declare -A cpu
part check && for (( r = 1; r <= rounds; r++ )); do
  # shellcheck disable=SC2046
  cpu[curl-$r]=$(cpu_of curl -s $(for u in $(urls "curl$r"); do printf -- '-o /dev/null %s ' "$u"; done))
  # shellcheck disable=SC2046
  cpu[bare-$r]=$(cpu_of "$bench" $(urls "bare$r"))
  cpu[prog-$r]=$(program_round "prog$r")
done

median() { sort -n | awk '{ a[NR] = $1 } END { if (NR) print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }
page_median() {  # CLIENT PAGE-PATH
  for (( r = 1; r <= rounds; r++ )); do gaps "$1$r"; done | awk -v p="$2" '$1 == p { print $2 }' | median
}
# The median of the ratios of the two clients' times in each round: each pair ran under about the
# same load, so this moves less with the machine than the ratio of the medians.
round_ratio() {  # CLIENT-A CLIENT-B PAGE-PATH
  for (( r = 1; r <= rounds; r++ )); do
    a=$(gaps "$1$r" | awk -v p="$3" '$1 == p { print $2 }'); b=$(gaps "$2$r" | awk -v p="$3" '$1 == p { print $2 }')
    [ -n "$a" ] && [ -n "$b" ] && awk -v a="$a" -v b="$b" 'BEGIN { if (b > 0) printf "%.4f\n", a / b }'
  done | median | awk '{ printf "%.2f", $1 }'
}
cpu_median() { for (( r = 1; r <= rounds; r++ )); do echo "${cpu[$1-$r]}"; done | median; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

part check && {
echo
echo "check time from the server's log, per round (seconds; each page is 100 MB):"
for client in curl bare prog; do
  for page in /utf8/mixed-100m.html /latin1-100m.html; do
    printf '  %-5s %-22s' "$client" "$page"
    for (( r = 1; r <= rounds; r++ )); do gaps "$client$r" | awk -v p="$page" '$1 == p { printf " %.3f", $2 }'; done
    echo
  done
done
echo "medians:"
for page in /utf8/mixed-100m.html /latin1-100m.html; do
  c=$(page_median curl "$page"); b=$(page_median bare "$page"); p=$(page_median prog "$page")
  printf '  %-22s curl %.4f  bare fetch path %.4f  program %.4f\n' "$page" "$c" "$b" "$p"
  case $page in
    */mixed*) name="UTF-8 (a third non-ASCII, 2/3/4 bytes)"; target="<= 2.50x curl" ;;
    *) name="Latin-1"; target="<= 2.00x curl" ;;
  esac
  report "$name: program / curl" "$(ratio "$p" "$c")x (by round $(round_ratio prog curl "$page")x)" "$target"
  report "$name: bare fetch path / curl" "$(ratio "$b" "$c")x (by round $(round_ratio bare curl "$page")x)" "(for comparison)"
  report "$name: program / bare fetch path" "$(ratio "$p" "$b")x (by round $(round_ratio prog bare "$page")x)" "<= 1.10x"
done
echo "  CPU seconds per round (both pages, median): curl $(cpu_median curl), bare fetch path $(cpu_median bare)," \
  "program $(cpu_median prog) (the program's includes its start)"
}

# --- Timed from outside, ours and curl in turn ------------------------------------------------
# Alternating the two clients run by run keeps a change of the machine's load from favouring one;
# the median and the best run of each are shown (the best is the least disturbed by other work).
part timed && {
for _ in $(seq 1000); do printf 'url = "%s"\noutput = "/dev/null"\n' "$ka"; done >"$dir/curl-1000.cfg"
: > "$dir/timed.txt"
timed() {  # NAME COMMAND...: appends "NAME wall user system" (seconds)
  local name=$1 t0 t1; shift
  t0=$(now_ns)
  /usr/bin/time -f "%U %S" -o "$dir/cpu.txt" "$@" >/dev/null 2>&1 || echo "$name failed" >&2
  t1=$(now_ns)
  echo "$name $(awk -v ns=$(( t1 - t0 )) 'BEGIN { printf "%.4f", ns / 1e9 }') $(cat "$dir/cpu.txt")" >> "$dir/timed.txt"
}
for (( r = 1; r <= runs; r++ )); do
  timed ours-100m-utf8 "$bench" "$utf8"; timed curl-100m-utf8 curl -s -o /dev/null "$utf8"
  timed ours-2m "$bench" "$small"; timed curl-2m curl -s -o /dev/null "$small"
  timed ours-1000x100k "$bench" --repeat 1000 "$ka"; timed curl-1000x100k curl -s -K "$dir/curl-1000.cfg"
done
tmedian() { awk -v n="$1" '$1 == n { print $2 }' "$dir/timed.txt" | median; }
tbest() { awk -v n="$1" '$1 == n { print $2 }' "$dir/timed.txt" | sort -n | head -1; }
tcpu() { awk -v n="$1" '$1 == n { print $3 + $4 }' "$dir/timed.txt" | median; }
echo
echo "timed from outside, $runs runs each in turn: wall seconds median / best, CPU seconds median"
for pair in 100m-utf8 2m 1000x100k; do
  printf '  %-10s ours %.4f / %.4f (CPU %.2f)   curl %.4f / %.4f (CPU %.2f)\n' "$pair" \
    "$(tmedian ours-$pair)" "$(tbest ours-$pair)" "$(tcpu ours-$pair)" \
    "$(tmedian curl-$pair)" "$(tbest curl-$pair)" "$(tcpu curl-$pair)"
done
report "UTF-8 page, two-byte characters only: ours / curl" \
  "$(ratio "$(tmedian ours-100m-utf8)" "$(tmedian curl-100m-utf8)")x (best $(ratio "$(tbest ours-100m-utf8)" "$(tbest curl-100m-utf8)")x)" "(for comparison)"
report "2 MB page: ours / curl" "$(ratio "$(tmedian ours-2m)" "$(tmedian curl-2m)")x (best $(ratio "$(tbest ours-2m)" "$(tbest curl-2m)")x)" "(for comparison)"
rate() { awk -v a="$1" 'BEGIN { printf "%.0f", 1000 / a }'; }
ours_rate=$(rate "$(tmedian ours-1000x100k)"); curl_rate=$(rate "$(tmedian curl-1000x100k)")
ours_best=$(rate "$(tbest ours-1000x100k)"); curl_best=$(rate "$(tbest curl-1000x100k)")
report "1,000 x 100 KB, one kept connection: requests/s" \
  "$ours_rate/s = $(ratio "$ours_rate" "$curl_rate")x (best $ours_best/s = $(ratio "$ours_best" "$curl_best")x)" \
  ">= 2x curl ($curl_rate/s, best $curl_best/s)"
}

# --- Peak memory ----------------------------------------------------------------------------
part memory && {
echo
peak() { "$bench" "$@" 2>&1 | sed -n 's/.*peak RSS \([0-9]*\) kB.*/\1/p'; }
body=100000000
times_body() { awk -v r="$1" -v b=$body 'BEGIN { printf "%.2fx (%.0f MB)", r * 1024 / b, r / 1024 }'; }
for u in "$latin" "$mixed" "$chunked"; do
  report "peak memory, ${u#"$base"/}, checksum as decoded: x body" "$(times_body "$(peak "$u")")" "(for comparison)"
done
for u in "$latin" "$mixed"; do
  report "peak memory, ${u#"$base"/}, whole text: x body" "$(times_body "$(peak --text "$u")")" "(for comparison)"
done
report "peak memory, chunked 100 MB page, whole text: x body" "$(times_body "$(peak --text "$chunked")")" "<= 2.2x"
lying=$("$bench" --lying)
echo "  $lying"
grew=$(sed -n 's/.*peak grew by \([0-9]*\) kB.*/\1/p' <<< "$lying")
report "lying Content-Length (10 bytes came): peak grew by" "$grew kB" "<= 1024 kB (2 x 10 B + 1 MiB)"
}

echo
echo "== Summary ($(uptime | sed 's/.*load/load/'), $(nproc) cores)"
printf '%s\n' "${results[@]}"
