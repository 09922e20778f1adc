#!/usr/bin/env bash
# Renders the PNG sizes of the icon from qx7daq.svg (needs rsvg-convert,
# Debian's librsvg2-bin). The PNGs are kept in the repository, so a build
# needs no SVG renderer; run this after changing the drawing.
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 24 32 48 64 128 256; do
    rsvg-convert -w "$size" -h "$size" qx7daq.svg -o "qx7daq-$size.png"
done
