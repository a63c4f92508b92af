#!/usr/bin/env bash
# Renders the application icon data/kelvora.svg into the PNG sizes of the hicolor icon theme.
# The PNGs are kept in the repository; run this again after changing the SVG
# (needs rsvg-convert from librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")"
for n in 16 32 48 64 128 256; do
  rsvg-convert -w "$n" -h "$n" -o "kelvora-$n.png" ../kelvora.svg
done
