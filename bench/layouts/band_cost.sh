#!/usr/bin/env bash
# What the band count costs: lumivox-cli's processor time (user + system) on 120 s of 16-bit
# 44.1 kHz noise carrier and a voice-like modulator, with --bands 16, 20, 32 and 48 over the same
# range (22.5 to 20000 Hz) and the classic layout, runs interleaved, the least of RUNS each.
# Usage: bench/layouts/band_cost.sh [BUILD_DIR] [RUNS]. LUMIVOX_VECTOR_UNIT pins the vector unit.
set -euo pipefail
build=${1:-build}
runs=${2:-5}
cli="$build/lumivox-cli"
[[ -x "$cli" ]] || { echo "no $cli: build first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unit=${LUMIVOX_VECTOR_UNIT:-widest ($(grep -q avx512f /proc/cpuinfo && echo avx512 || echo avx2))}
sox -q -n -r 44100 -b 16 -c 1 "$work/carrier.wav" synth 120 whitenoise gain -12
sox -q -n -r 44100 -b 16 -c 1 "$work/modulator.wav" synth 120 sawtooth 140 \
    tremolo 4 90 gain -12
cpu() { # processor milliseconds of one run (user + system)
    local TIMEFORMAT='%U %S' times
    times=$({ time "$cli" --quiet "$@" "$work/carrier.wav" "$work/modulator.wav" \
        "$work/out.wav" >/dev/null; } 2>&1)
    awk -v t="$times" 'BEGIN { split(t, p, " "); printf "%d", 1000 * (p[1] + p[2]) }'
}
declare -A least
layouts=(classic 16 20 32 48)
for ((i = 0; i < runs; i++)); do
    for layout in "${layouts[@]}"; do
        if [[ $layout == classic ]]; then
            ticks=$(cpu --bands classic)
        else
            ticks=$(cpu --bands "$layout" --band-range 22.5:20000)
        fi
        if [[ -z ${least[$layout]:-} ]] || ((ticks < least[$layout])); then
            least[$layout]=$ticks
        fi
    done
done
echo "band cost, 120 s at 44.1 kHz, least of $runs runs, vector unit $unit, load $(cut -d' ' -f1-3 /proc/loadavg)"
for layout in "${layouts[@]}"; do
    awk -v t="${least[$layout]}" -v hz=1000 -v ref="${least[32]}" -v name="$layout" \
        'BEGIN { printf "%-8s %6.2f s processor time, %.2f x the 32 bands\n", name, t / hz, t / ref }'
done
