#!/usr/bin/env bash
# Configures and builds into build/ (or $KELVORA_BUILD_DIR). Extra arguments go to cmake.
# $KELVORA_TARGETS, when set, names the targets to build (default: everything).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${KELVORA_BUILD_DIR:-build}
cmake -S . -B "$dir" "$@" >/dev/null
targets=()
for t in ${KELVORA_TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$dir" -j"$(nproc)" "${targets[@]}"
