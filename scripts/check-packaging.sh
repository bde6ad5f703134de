#!/usr/bin/env bash
# Checks what `cmake --install` and the Debian package ship: the launcher and the autostart
# entry pass desktop-file-validate, the AppStream metadata passes appstreamcli, the manual page
# formats without warnings, an install into a temporary prefix holds exactly the expected files,
# and the installed program answers --version and --help without starting its window.
# Usage: scripts/check-packaging.sh [build-dir]   (default: build, or $VANTREL_BUILD_DIR)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-${VANTREL_BUILD_DIR:-build}}
app_id=io.github.vantrel.Vantrel
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target vantrel vantrel_manpage store_tests >/dev/null

tmp=$(mktemp -d)
trap 'chmod -R u+w "$tmp"; rm -rf "$tmp"' EXIT
fail() { echo "check-packaging: $*" >&2; exit 1; }

desktop-file-validate "packaging/$app_id.desktop" || fail "launcher does not validate"
# The autostart entry is written by the program; its test runs the same validator on it.
"$build/bin/store_tests" --gtest_brief=1 --gtest_filter='XdgAutostartTest.EntryPassesDesktopFileValidate' \
  >"$tmp/autostart.log" 2>&1 || { cat "$tmp/autostart.log"; fail "autostart entry does not validate"; }
grep -q '1 test.*PASSED\|PASSED.*1 test' "$tmp/autostart.log" || fail "autostart entry was not validated"
appstreamcli validate --no-net "$build/packaging/$app_id.metainfo.xml" >"$tmp/as.log" 2>&1 ||
  { cat "$tmp/as.log"; fail "AppStream metadata does not validate"; }
if command -v man >/dev/null; then
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l -Tutf8 "$build/packaging/vantrel.1" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "manual page: $warnings"
fi

cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
expected="bin/vantrel
share/applications/$app_id.desktop"
for size in 128 16 256 32 48 64; do
  expected+="
share/icons/hicolor/${size}x${size}/apps/$app_id.png"
done
expected+="
share/icons/hicolor/scalable/apps/$app_id.svg
share/man/man1/vantrel.1.gz
share/metainfo/$app_id.metainfo.xml"
actual=$(cd "$tmp/prefix" && find . -type f -printf '%P\n' | LC_ALL=C sort)
[ "$actual" = "$(LC_ALL=C sort <<<"$expected")" ] ||
  fail "installed files differ:$(diff <(LC_ALL=C sort <<<"$expected") <(echo "$actual") || true)"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
# As an installed program: a folder the user cannot write, run by a user who is not root. No
# display and no session bus: --version and --help must need neither.
chmod 0755 "$tmp"
chmod 0555 "$tmp/prefix/bin"
as_user() {
  if [ "$(id -u)" -eq 0 ]; then setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"; else "$@"; fi
}
out=$(as_user env -i HOME="$tmp/home" PATH=/usr/bin:/bin timeout 10 "$tmp/prefix/bin/vantrel" --version) ||
  fail "vantrel --version exited with $?"
[ "$out" = "Vantrel $version" ] || fail "vantrel --version printed '$out'"
out=$(as_user env -i HOME="$tmp/home" PATH=/usr/bin:/bin timeout 10 "$tmp/prefix/bin/vantrel" -s --help) ||
  fail "vantrel --help exited with $?"
grep -qxF "Page list file: $tmp/home/.config/vantrel/webpages.dat" <<<"$out" ||
  fail "vantrel --help does not name the page list file: $out"
[ ! -e "$tmp/home" ] || fail "vantrel --help created files in the home folder"
echo "check-packaging: all checks passed"
