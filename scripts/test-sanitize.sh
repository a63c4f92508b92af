#!/usr/bin/env bash
# Builds everything with AddressSanitizer + UndefinedBehaviorSanitizer into build-sanitize/ and
# runs the whole test suite there. Any finding (memory error, leak, undefined behaviour) ends the
# test program it happens in with an error. Every test runs: the ones that start Chromium or
# LibreOffice run only the project's own programs instrumented, the others as they are.
# Then the fuzz targets are built with clang and run once over their seeds.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${KELVORA_SANITIZE_BUILD_DIR:-build-sanitize}
# Warnings are errors in the normal tree only: with the sanitizers GCC 12 warns of uninitialised
# values inside the standard library (std::regex, std::function) that are not there.
cmake -S . -B "$dir" -DKELVORA_SANITIZE=ON -DKELVORA_WERROR=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" -j"$(nproc)"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:check_initialization_order=1:strict_init_order=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
(cd "$dir" && ctest --output-on-failure -j2 --timeout 900)

# The fuzz targets still build and run cleanly over their seeds; scripts/fuzz.sh runs them for a
# fixed time, by hand.
bash scripts/fuzz.sh seeds
