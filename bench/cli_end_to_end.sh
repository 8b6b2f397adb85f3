#!/usr/bin/env bash
# Times lumivox-cli on 300 s of 16-bit 44.1 kHz mono and reports the median wall time of several
# runs and the largest peak resident memory. Usage: bench/cli_end_to_end.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build=${1:-build}
runs=${2:-5}
cli="$build/lumivox-cli"
[[ -x "$cli" ]] || { echo "no $cli: build first" >&2; exit 1; }
command -v sox >/dev/null || { echo "sox is needed (scripts/setup.sh test)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sox -q -n -r 44100 -b 16 -c 1 "$work/carrier.wav" synth 300 sawtooth 110 sawtooth 165 gain -6
sox -q -n -r 44100 -b 16 -c 1 "$work/modulator.wav" synth 300 pinknoise tremolo 3 90 gain -3

walls=()
peak=0
for ((i = 0; i < runs; i++)); do
    /usr/bin/time -f "%e %M" -o "$work/time" "$cli" --quiet "$work/carrier.wav" \
        "$work/modulator.wav" "$work/out.wav"
    read -r wall rss <"$work/time"
    walls+=("$wall")
    ((rss > peak)) && peak=$rss
done
median=$(printf '%s\n' "${walls[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
echo "lumivox-cli, 300 s of 16-bit 44.1 kHz mono: median wall ${median} s over ${runs} runs" \
    "(all: ${walls[*]}), peak resident memory $((peak / 1024)) MB (${peak} KB)"
