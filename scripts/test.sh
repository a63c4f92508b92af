#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh test
bash scripts/format.sh --check
bash scripts/build.sh
export QT_QPA_PLATFORM=offscreen
cd "${KELVORA_BUILD_DIR:-build}"
ctest --output-on-failure -j2 --timeout 600
