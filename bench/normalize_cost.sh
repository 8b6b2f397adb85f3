#!/usr/bin/env bash
# What --normalize costs: lumivox-cli on 300 s of 16-bit 44.1 kHz mono with and without it, runs
# interleaved so that both see the same load. The normalized run keeps the results in an unnamed
# temporary file beside the output (8 bytes a frame) and stores them in a second pass. Reports the
# median wall and processor times, the extra wall time in seconds and per cent, the temporary's
# size and the largest peak resident memory. Usage: bench/normalize_cost.sh [BUILD_DIR] [RUNS]
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
unit=${LUMIVOX_VECTOR_UNIT:-widest ($(grep -q avx512f /proc/cpuinfo && echo avx512 || echo avx2))}

echo "lumivox-cli, 300 s of 16-bit 44.1 kHz mono, $runs runs each, vector unit $unit," \
    "$(nproc) cores, load: $(cut -d' ' -f1-3 /proc/loadavg)"
plainWall=() plainCpu=() normWall=() normCpu=()
peak=0
for ((i = 0; i < runs; i++)); do
    for kind in plain normalized; do
        options=(--quiet)
        [[ $kind == normalized ]] && options+=(--normalize)
        /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$cli" "${options[@]}" \
            "$work/carrier.wav" "$work/modulator.wav" "$work/$kind.wav"
        read -r wall user system rss <"$work/time"
        cpu=$(awk -v u="$user" -v s="$system" 'BEGIN { printf "%.2f", u + s }')
        if [[ $kind == plain ]]; then
            plainWall+=("$wall") plainCpu+=("$cpu")
        else
            normWall+=("$wall") normCpu+=("$cpu")
        fi
        ((rss > peak)) && peak=$rss
    done
done
pw=$(median "${plainWall[@]}") nw=$(median "${normWall[@]}")
pc=$(median "${plainCpu[@]}") nc=$(median "${normCpu[@]}")
echo "without --normalize: wall ${pw} s (all: ${plainWall[*]}), processor ${pc} s"
echo "with --normalize:    wall ${nw} s (all: ${normWall[*]}), processor ${nc} s"
awk -v p="$pw" -v n="$nw" -v pc="$pc" -v nc="$nc" 'BEGIN {
    printf "extra: wall %.2f s (%.1f %%), processor %.2f s (%.1f %%)\n",
        n - p, 100 * (n - p) / p, nc - pc, 100 * (nc - pc) / pc }'
echo "temporary: $((300 * 44100 * 8 / 1000000)) MB beside the output; peak resident memory" \
    "$((peak / 1024)) MB"
