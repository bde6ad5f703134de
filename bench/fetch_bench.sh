#!/usr/bin/env bash
# Times the full check path (get + decode + checksum) next to curl downloading the same pages from
# nginx on loopback, with hyperfine medians, and prints the ratios and the peak memory.
# Usage: bench/fetch_bench.sh [build-dir]   (a Release build with the fetch_bench target)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
bench=$build/bin/fetch_bench
runs=${RUNS:-7}
[ -x "$bench" ] || { echo "build $bench first (cmake --build $build --target fetch_bench)" >&2; exit 1; }
for tool in hyperfine curl; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done

dir=$(mktemp -d /tmp/vantrel-fetch-bench-XXXXXX)
# nginx with the pages, started by the tests' fixture; it stops when its stdin closes.
coproc server { "$bench" --serve; }
server_pid=$server_PID
server_in=${server[1]}
cleanup() {
  eval "exec $server_in>&-"
  wait "$server_pid" 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT
read -r port <&"${server[0]}" || { echo "nginx did not start" >&2; exit 1; }

base=http://127.0.0.1:$port
latin=$base/latin1-100m.html
utf8=$base/utf8/utf8-100m.html
small=$base/page-2m.html
ka=$base/page-100k.html
for _ in $(seq 1000); do printf 'url = "%s"\noutput = "/dev/null"\n' "$ka"; done >"$dir/curl-1000.cfg"

hyperfine -N --warmup 1 --runs "$runs" --export-csv "$dir/times.csv" \
  -n ours-100m-latin1 "$bench $latin" -n curl-100m-latin1 "curl -s -o /dev/null $latin" \
  -n ours-100m-utf8 "$bench $utf8" -n curl-100m-utf8 "curl -s -o /dev/null $utf8" \
  -n ours-2m "$bench $small" -n curl-2m "curl -s -o /dev/null $small" \
  -n ours-1000x100k "$bench --repeat 1000 $ka" -n curl-1000x100k "curl -s -K $dir/curl-1000.cfg"

median() { awk -F, -v n="$1" '$1 == n { print $4 }' "$dir/times.csv"; }
ratio() { awk -v a="$(median "$1")" -v b="$(median "$2")" 'BEGIN { printf "%.2f", a / b }'; }
echo
echo "median seconds (ours / curl) and ratio:"
for pair in 100m-latin1 100m-utf8 2m 1000x100k; do
  printf '  %-12s %8.4f / %8.4f  = %sx\n' "$pair" "$(median ours-$pair)" "$(median curl-$pair)" "$(ratio ours-$pair curl-$pair)"
done
awk -v a="$(median ours-1000x100k)" -v b="$(median curl-1000x100k)" \
  'BEGIN { printf "  keep-alive requests/s: ours %.0f, curl %.0f\n", 1000 / a, 1000 / b }'
echo
echo "peak memory of the 100 MB checks (body 100000000 bytes):"
for url in "$latin" "$utf8"; do
  rss=$("$bench" "$url" 2>&1 | sed -n 's/.*peak RSS \([0-9]*\) kB.*/\1/p')
  awk -v r="$rss" -v u="$url" 'BEGIN { printf "  %s: %.0f MB = %.2fx the body\n", u, r / 1024, r * 1024 / 100000000 }'
done
curl_rss=$(/usr/bin/time -f %M curl -s -o /dev/null "$latin" 2>&1 | tail -1)
echo "  curl: $((curl_rss / 1024)) MB"
echo "targets: 100 MB within 4x, 2 MB within 1.5x, keep-alive at least curl's rate, memory under 3.5x"
