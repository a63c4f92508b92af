#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the suite, the Debian packages, and the
# suite again built with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh test
bash scripts/format.sh --check
# Warnings are errors here, and the benchmarks are built too, so they keep compiling.
bash scripts/build.sh -DKELVORA_WERROR=ON -DKELVORA_BUILD_BENCHMARKS=ON
bash scripts/names.sh
(cd "${KELVORA_BUILD_DIR:-build}" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 --timeout 600)
# The Debian packages: built, checked with lintian, installed, tried and removed again.
bash scripts/test-packages.sh
# The whole suite again in a sanitizer build, and the fuzz targets over their seeds.
bash scripts/test-sanitize.sh
