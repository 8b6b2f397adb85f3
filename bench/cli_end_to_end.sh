#!/usr/bin/env bash
# Times lumivox-cli on 300 s of 16-bit 44.1 kHz mono at three slider settings (default; Vagueness
# 50 with Instrument Clearance 30; Vagueness 100), each on the block path as shipped and on
# processSample frame by frame (LUMIVOX_BLOCK_PATH=off), runs interleaved so that both see the same
# load. Reports the median wall time of several runs, the ratio of the medians and the largest
# peak resident memory. Usage: bench/cli_end_to_end.sh [BUILD_DIR] [RUNS]
# LUMIVOX_VECTOR_UNIT (portable, sse2, avx2, avx512) pins the block path's unit as usual.
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

median() { printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"; }

echo "lumivox-cli, 300 s of 16-bit 44.1 kHz mono, $runs runs each, $(nproc) cores," \
    "load: $(cut -d' ' -f1-3 /proc/loadavg)"
for setting in "0 0" "50 30" "100 0"; do
    read -r vagueness clearance <<<"$setting"
    block=()
    sample=()
    peak=0
    for ((i = 0; i < runs; i++)); do
        for path in on off; do
            LUMIVOX_BLOCK_PATH=$path /usr/bin/time -f "%e %M" -o "$work/time" "$cli" --quiet \
                --vagueness "$vagueness" --clearance "$clearance" \
                "$work/carrier.wav" "$work/modulator.wav" "$work/out-$path.wav"
            read -r wall rss <"$work/time"
            if [[ $path == on ]]; then block+=("$wall"); else sample+=("$wall"); fi
            ((rss > peak)) && peak=$rss
        done
        cmp -s "$work/out-on.wav" "$work/out-off.wav" || { echo "outputs differ" >&2; exit 1; }
    done
    b=$(median "${block[@]}")
    s=$(median "${sample[@]}")
    echo "vagueness $vagueness, clearance $clearance: block path median ${b} s" \
        "(all: ${block[*]}), processSample median ${s} s (all: ${sample[*]})," \
        "ratio $(awk -v s="$s" -v b="$b" 'BEGIN { printf "%.1f", s / b }')x," \
        "peak resident memory $((peak / 1024)) MB"
done
