#!/usr/bin/env bash
# What Clarity costs a whole Vocode: lumivox-cli on 300 s of 16-bit 44.1 kHz mono at Clarity 0,
# 25, 50 and 100, runs interleaved so that all see the same load. Reports the median processor
# time (user + system) and wall time of each, and how much more each is than at Clarity 0.
# Usage: bench/clarity_cost.sh [BUILD_DIR] [RUNS]
# LUMIVOX_VECTOR_UNIT (portable, sse2, avx2, avx512) pins the vector unit as usual.
set -euo pipefail
build=${1:-build}
runs=${2:-5}
cli="$build/lumivox-cli"
[[ -x "$cli" ]] || { echo "no $cli: build first" >&2; exit 1; }
command -v sox >/dev/null || { echo "sox is needed (scripts/setup.sh test)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sox -q -n -r 44100 -b 16 -c 1 "$work/carrier.wav" synth 300 sawtooth 130.81 sawtooth 164.81 \
    sawtooth 196 gain -9
sox -q -n -r 44100 -b 16 -c 1 "$work/modulator.wav" synth 300 pinknoise tremolo 3 90 gain -3

median() { printf '%s\n' "$@" | sort -g | sed -n "$((($# + 1) / 2))p"; }

steps=(0 25 50 100)
declare -A cpus walls
for ((i = 0; i < runs; i++)); do
    for clarity in "${steps[@]}"; do
        /usr/bin/time -f "%e %U %S" -o "$work/time" "$cli" --quiet --clarity "$clarity" \
            "$work/carrier.wav" "$work/modulator.wav" "$work/out.wav"
        read -r wall user system <"$work/time"
        walls[$clarity]+="$wall "
        cpus[$clarity]+="$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }') "
    done
done

echo "lumivox-cli, 300 s of 16-bit 44.1 kHz mono, $runs runs each, vector unit" \
    "${LUMIVOX_VECTOR_UNIT:-best available}, $(nproc) cores, load: $(cut -d' ' -f1-3 /proc/loadavg)"
cpuBase=$(median ${cpus[0]})
wallBase=$(median ${walls[0]})
for clarity in "${steps[@]}"; do
    cpu=$(median ${cpus[$clarity]})
    wall=$(median ${walls[$clarity]})
    awk -v c="$clarity" -v cpu="$cpu" -v cb="$cpuBase" -v wall="$wall" -v wb="$wallBase" 'BEGIN {
        printf "Clarity %3d: processor %.2f s (%+.1f %%), wall %.2f s (%+.1f %%)\n",
            c, cpu, 100 * (cpu / cb - 1), wall, 100 * (wall / wb - 1) }'
done
