#!/usr/bin/env bash
# Per-page filters in the real program: two pages of a server on 127.0.0.1 whose text carries a
# clock, an "n minutes ago" line and a hidden token that differ on every request. One page gets
# "visible text only" and two lines to ignore, set in the history database beside the page list;
# the other has none. The program (a copy in a temporary folder, started hidden) checks both a few
# times: it is stopped, the pages' stamps are cleared, and it is started again. Prints the status
# listing and the checks from the history.
# Usage: scripts/with-display.sh bench/filter_demo.sh [build-dir] [cycles]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cycles=${2:-3}
exe=$build/bin/vantrel
[ -x "$exe" ] || { echo "no program at $exe" >&2; exit 1; }
command -v sqlite3 >/dev/null || { echo "the sqlite3 command is missing" >&2; exit 1; }

work=$(mktemp -d)
server_pid=
program_pid=
cleanup() {
  [ -z "$program_pid" ] || { kill "$program_pid" 2>/dev/null || true; wait "$program_pid" 2>/dev/null || true; }
  [ -z "$server_pid" ] || { kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; }
  rm -rf "$work"
}
trap cleanup EXIT
cp "$exe" "$work/vantrel"
# A runtime folder of its own, so its single-instance lock is apart from any other copy running.
export XDG_RUNTIME_DIR=$work/run
mkdir -m 0700 "$XDG_RUNTIME_DIR"

python3 - "$work/port" <<'EOF' &
import http.server, os, secrets, sys, time
count = 0
class Page(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        global count
        count += 1
        body = f"""<html><head><title>Station news</title>
<style>body {{ font-family: sans-serif }}</style><script>var loaded = {time.time()};</script></head>
<body><h1>Station news</h1><p>The lift on platform 2 is out of order.</p>
<p>Server time: {time.strftime('%H:%M:%S')}.{time.time_ns() % 1000000:06d}</p>
<p>Updated {count} minutes ago</p>
<form><input type="hidden" name="token" value="{secrets.token_hex(8)}"></form></body></html>
""".encode()
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(("127.0.0.1", 0), Page)
# Written whole, then renamed: the script reads the port once the file is there.
with open(sys.argv[1] + ".tmp", "w") as out:
    out.write(str(server.server_port))
os.rename(sys.argv[1] + ".tmp", sys.argv[1])
server.serve_forever()
EOF
server_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(cat "$work/port")
filtered=http://127.0.0.1:$port/filtered
plain=http://127.0.0.1:$port/plain

printf '[main]\r\ncount=2\r\nstart=0\r\nsort=0\r\nrecheck=0\r\n' >"$work/webpages.dat"
printf '[web1]\r\ncaption=News with filters\r\nstatus=2\r\nitem1=%s\r\nitem2=0\r\nitem3=\r\nitem4=\r\n' \
  "$filtered" >>"$work/webpages.dat"
printf '[web2]\r\ncaption=News without filters\r\nstatus=2\r\nitem1=%s\r\nitem2=0\r\nitem3=\r\nitem4=\r\n' \
  "$plain" >>"$work/webpages.dat"

db=$work/history.db
checks() { [ -f "$db" ] && sqlite3 "$db" 'SELECT count(*) FROM checks' 2>/dev/null || echo 0; }

# Starts the program hidden, waits (at most 30 s) until both pages have one more check in the
# history, and stops it as the session's end would.
run_once() {
  local before; before=$(checks)
  "$work/vantrel" -s &
  program_pid=$!
  for _ in $(seq 300); do
    [ "$(checks)" -ge $((before + 2)) ] && break
    sleep 0.1
  done
  kill -TERM "$program_pid"
  wait "$program_pid" || true
  program_pid=
  [ "$(checks)" -ge $((before + 2)) ] || { echo "the program did not check both pages" >&2; exit 1; }
}

# Empties keys of one page ("web1") in the page list file, as the program would.
clear_keys() {
  python3 - "$work/webpages.dat" "$@" <<'EOF'
import re, sys
path, section, keys = sys.argv[1], sys.argv[2], sys.argv[3:]
text = open(path, newline="").read()
parts = re.split(r"(?m)^(?=\[)", text)
for i, part in enumerate(parts):
    if part.startswith(f"[{section}]"):
        for key in keys:
            part = re.sub(rf"(?m)^{key}=[^\r\n]*", f"{key}=", part)
        parts[i] = part
open(path, "w", newline="").write("".join(parts))
EOF
}

echo "== First start: both pages checked once, no filters yet"
run_once

echo "== Filters for $filtered: visible text only, ignore '^Server time:' and 'minutes ago\$'"
sqlite3 "$db" <<SQL
INSERT OR IGNORE INTO pages(url) VALUES('$filtered');
INSERT OR REPLACE INTO settings(page, selector_kind, selector, visible_only, failures)
  SELECT id, 0, '', 1, 1 FROM pages WHERE url = '$filtered';
DELETE FROM ignore_lines WHERE page = (SELECT id FROM pages WHERE url = '$filtered');
INSERT INTO ignore_lines(page, position, pattern)
  SELECT id, 0, '^Server time:' FROM pages WHERE url = '$filtered';
INSERT INTO ignore_lines(page, position, pattern)
  SELECT id, 1, 'minutes ago\$' FROM pages WHERE url = '$filtered';
SQL
# New filters start the page afresh: no stored checksum, due at once.
clear_keys web1 item3 item4

for cycle in $(seq "$cycles"); do
  echo "== Start $((cycle + 1))"
  clear_keys web1 item3
  clear_keys web2 item3
  run_once
done

echo "== vantrel --status"
"$work/vantrel" --status
echo "== The checks in the history"
sqlite3 -header -column "$db" "
  SELECT CASE WHEN p.url LIKE '%/filtered' THEN 'filtered' ELSE 'plain' END AS page,
         strftime('%H:%M:%S', c.time / 1000, 'unixepoch', 'localtime') AS time,
         c.duration AS ms,
         CASE c.outcome WHEN 0 THEN 'online' WHEN 1 THEN 'changed' ELSE 'offline' END AS outcome,
         CASE c.status WHEN 0 THEN 'online' WHEN 1 THEN 'changed' ELSE 'offline' END AS status,
         c.detail, c.size AS bytes
  FROM checks c JOIN pages p ON p.id = c.page ORDER BY page, c.id"
echo "== The latest text kept of the filtered page"
sqlite3 "$db" "SELECT body FROM texts JOIN pages ON pages.id = texts.page
               WHERE pages.url = '$filtered' AND slot = 1"
