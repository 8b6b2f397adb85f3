#!/usr/bin/env bash
# A range the bands keep to: at 96 kHz with --band-range 100:8000, white noise vocoded with a
# 12 kHz tone against the same noise vocoded with a 1 kHz tone (levels of the outputs' RMS).
# Usage: bench/layouts/tone_range.sh [BUILD_DIR] [BANDS] (BANDS for --bands, default 32).
set -euo pipefail
build=${1:-build}
bands=${2:-32}
cli="$build/lumivox-cli"
[[ -x "$cli" ]] || { echo "no $cli: build first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sox -q -n -r 96000 -b 16 -c 1 "$work/noise.wav" synth 3 whitenoise gain -10
rms() { sox "$1" -n trim 1 stat 2>&1 | awk '/RMS +amplitude/ { print $3 }'; }
declare -A level
for tone in 1000 12000; do
    sox -q -n -r 96000 -b 16 -c 1 "$work/tone.wav" synth 3 sine "$tone" gain -6
    "$cli" --quiet --bands "$bands" --band-range 100:8000 "$work/noise.wav" "$work/tone.wav" \
        "$work/out-$tone.wav"
    level[$tone]=$(rms "$work/out-$tone.wav")
done
awk -v low="${level[1000]}" -v high="${level[12000]}" -v bands="$bands" 'BEGIN {
    printf "96 kHz, %s bands over 100:8000 Hz: 1 kHz tone RMS %.6f, 12 kHz tone RMS %.6f", bands, low, high
    if (high > 0) printf ", %.1f dB quieter\n", 20 * log(low / high) / log(10)
    else printf ", silent (below one 16-bit step)\n"
}'
