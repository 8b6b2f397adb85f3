#!/usr/bin/env bash
# Times lumivox-cli on 300 s of 16-bit 44.1 kHz mono and reports the median wall time of several
# runs and the largest peak resident memory. Usage: bench/cli_end_to_end.sh [BUILD_DIR] [RUNS]
# [OTHER_CLI]: with another lumivox-cli given, the two run in turn and both medians are reported, so
# that a change is measured against its predecessor under the same load.
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

other=${3:-}

walls=()
otherWalls=()
peak=0
timeRun() { # CLI -> "wall rss"
    /usr/bin/time -f "%e %M" -o "$work/time" "$1" --quiet "$work/carrier.wav" \
        "$work/modulator.wav" "$work/out.wav"
    cat "$work/time"
}
for ((i = 0; i < runs; i++)); do
    read -r wall rss < <(timeRun "$cli")
    walls+=("$wall")
    ((rss > peak)) && peak=$rss
    if [[ -n "$other" ]]; then
        read -r wall rss < <(timeRun "$other")
        otherWalls+=("$wall")
    fi
done
medianOf() { printf '%s\n' "$@" | sort -n | sed -n "$(((runs + 1) / 2))p"; }
echo "lumivox-cli, 300 s of 16-bit 44.1 kHz mono: median wall $(medianOf "${walls[@]}") s over" \
    "${runs} runs (all: ${walls[*]}), peak resident memory $((peak / 1024)) MB (${peak} KB)"
if [[ -n "$other" ]]; then
    echo "$other: median wall $(medianOf "${otherWalls[@]}") s (all: ${otherWalls[*]})"
fi
