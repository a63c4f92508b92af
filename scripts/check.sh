#!/usr/bin/env bash
# The quick loop beside scripts/test.sh: builds one tree (build/, or $KELVORA_BUILD_DIR) and runs
# every test but the ones that need programs from outside (label `external`: Chromium,
# LibreOffice, zbar, npm, nginx, slapd, PostgreSQL), in parallel. Installs nothing; a tree made
# here uses Ninja and ccache when they are installed. Extra arguments go to ctest, e.g.
#   bash scripts/check.sh -L window       only the widget tests
#   bash scripts/check.sh -R show_        only the presentation's tests
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${KELVORA_BUILD_DIR:-build}
jobs=$(nproc)
if [ ! -f "$dir/CMakeCache.txt" ]; then
  args=()
  command -v ninja >/dev/null && args+=(-G Ninja)
  command -v ccache >/dev/null && args+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  cmake -S . -B "$dir" "${args[@]}" >/dev/null
fi
cmake --build "$dir" -j"$jobs"
cd "$dir"
QT_QPA_PLATFORM=offscreen ctest -LE external -j"$jobs" --output-on-failure --timeout 300 "$@"
