#!/usr/bin/env bash
# Renders the program icon's PNGs next to this script from its drawing, data/icons/*.svg (a dark
# rounded tile holding eight band-level bars under a voice-like wave line), so the bitmaps and the
# scalable icon are one picture. Needs rsvg-convert (Debian librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")"
drawing=../../data/icons/org.lumivox.lumivox.svg
for size in 16 32 48 64 128 256; do
    rsvg-convert --width "$size" --height "$size" "$drawing" --output "lumivox-$size.png"
done
