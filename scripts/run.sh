#!/usr/bin/env bash
# Installs what is missing, builds in Release and starts the program on the user's desktop.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh run
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DVANTREL_BENCH=OFF >/dev/null
cmake --build build -j"$(nproc)" --target vantrel
exec build/bin/vantrel "$@"
