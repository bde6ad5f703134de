#!/usr/bin/env bash
# Resident memory of the idle program: started hidden with 1000 entries that are not due, on a
# display of its own with a tray host, left to settle, then read from /proc: VmRSS beside the
# target, and the mappings holding the most of it (summed per file; anonymous memory as [heap],
# [stack] or [anon]).
# Usage: bench/footprint_measure.sh [path/to/vantrel] [entries, 1000 by default] [mappings shown, 15]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exe=$(realpath "${1:-$here/../build/bin/vantrel}")
entries=${2:-1000}
shown=${3:-15}
target_kb=$(( 30 * 1024 ))
source "$here/measure_common.sh"
ensure_display "$exe" "$entries" "$shown"

work=$(mktemp -d)
trap '[ -n "${program_pid:-}" ] && kill -KILL "$program_pid" 2>/dev/null; rm -rf "$work"' EXIT
make_copy "$exe" "$work"
write_page_list "$work/webpages.dat" "$entries"

start_program "$work" -s
wait_started || true
sleep 3  # let start-up settle

status() { awk -v k="$1:" '$1 == k { print $2 }' "/proc/$program_pid/status"; }
rss=$(status VmRSS); hwm=$(status VmHWM); anon=$(status RssAnon); file=$(status RssFile)
echo "idle, hidden, $entries entries not due:"
echo "  largest mappings by resident size (kB, summed per file):"
awk '
  /^[0-9a-f]+-[0-9a-f]+ / { name = (NF >= 6) ? $6 : "[anon]"; sub(/.*\//, "", name); next }
  $1 == "Rss:" { rss[name] += $2 }
  END { for (n in rss) if (rss[n] > 0) printf "%8d  %s\n", rss[n], n }
' "/proc/$program_pid/smaps" | sort -rn | head -n "$shown"
printf '  anonymous %d kB, files %d kB, peak %d kB\n' "$anon" "$file" "$hwm"
verdict=$([ "$rss" -le "$target_kb" ] && echo met || echo MISSED)
printf 'VmRSS %.1f MiB (%d kB)   target <= 30 MiB (%d kB)   %s   (%s)\n' "$(awk -v r="$rss" 'BEGIN { print r / 1024 }')" \
  "$rss" "$target_kb" "$verdict" "$(uptime | sed 's/.*load/load/')"
stop_program || true
program_pid=
grep -q "^count=$entries" "$work/webpages.dat" || { echo "page list lost" >&2; exit 1; }
