#!/usr/bin/env bash
# Renders the PNG icons of the hicolor theme from our SVG (run after changing it).
set -euo pipefail
cd "$(dirname "$0")/../resources/icons"
for size in 16 24 32 48 64 128 256; do
    rsvg-convert -w "$size" -h "$size" kolt.svg -o "hicolor/kolt-$size.png"
done
