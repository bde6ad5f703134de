#!/usr/bin/env bash
# Installs what building, running and testing the program needs on Debian 12.
# Usage: scripts/install-deps.sh [run|test|fuzz]
set -euo pipefail
mode=${1:-test}
export DEBIAN_FRONTEND=noninteractive
apt=(apt-get -o DPkg::Lock::Timeout=300)
pkgs=(build-essential cmake pkg-config qt6-base-dev qt6-svg-dev libqt6svg6 libssl-dev
      libsqlite3-dev libdtl-dev libxml2-dev libpcre2-dev
      libsecret-1-dev libxcb1-dev libgtest-dev libgmock-dev googletest xdg-utils fonts-dejavu-core fonts-dejavu-extra)
if [ "$mode" = test ]; then
  # clang-format checks the source format; zlib is the benchmarks' reference CRC-32.
  pkgs+=(xvfb xauth trayer xdotool nginx-light openssl imagemagick hyperfine curl clang-format
         zlib1g-dev git
         sqlite3)
  # A real desktop for the window tests (panel with a status tray, notification daemon, window
  # manager, dark theme, Wayland compositor), a real proxy, a secret service, network namespaces.
  pkgs+=(xfwm4 xfce4-panel xfce4-notifyd xfce4-settings dbus-x11 dbus qt6-gtk-platformtheme
         gnome-themes-extra weston qt6-wayland tinyproxy gnome-keyring libsecret-tools iproute2)
  # The packaging checks, and dpkg-shlibdeps for `cpack -G DEB`.
  pkgs+=(desktop-file-utils appstream man-db dpkg-dev)
fi
if [ "$mode" = fuzz ] || [ "$mode" = test ]; then
  # libFuzzer targets (the test run includes a fuzz smoke): clang with its runtime libraries
  # (fuzzer, address, undefined).
  pkgs+=(clang libclang-rt-14-dev)
fi
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  [ "$(id -u)" -eq 0 ] || { echo "run as root to install: ${missing[*]}" >&2; exit 1; }
  "${apt[@]}" update -qq
  "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}"
fi
