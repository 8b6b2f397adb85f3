#!/usr/bin/env bash
# Draws the program icon with ImageMagick: a dark rounded tile holding eight band-level bars under
# a voice-like wave line. Run it from anywhere to regenerate the PNGs next to it.
set -euo pipefail
cd "$(dirname "$0")"
size=256
bars=(40 80 120 140 105 130 85 50)
draw=(-fill 'none' -stroke 'none')
x=34
for level in "${bars[@]}"; do
    top=$((222 - level))
    draw+=(-fill '#ffb84d' -draw "roundrectangle $x,$top $((x + 16)),222 5,5")
    x=$((x + 24))
done
convert -size ${size}x${size} xc:none \
    -fill '#1d2b4f' -draw "roundrectangle 8,8 247,247 40,40" \
    "${draw[@]}" \
    -fill none -stroke '#7fe0ff' -strokewidth 12 \
    -draw "path 'M 30,64 C 55,20 75,20 95,60 S 135,105 160,58 S 205,30 226,64'" \
    lumivox-256.png
for small in 16 32 48 64 128; do
    convert lumivox-256.png -filter Lanczos -resize ${small}x${small} lumivox-$small.png
done
