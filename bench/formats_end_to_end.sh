#!/usr/bin/env bash
# Times lumivox-cli on a 300 s 24-bit 48 kHz carrier with a 300 s 16-bit 22050 Hz modulator (the
# carrier decoded by libsndfile, the modulator resampled by libsoxr) against the same audio as
# 16-bit 48 kHz wave files at equal rates (the reader of old), runs interleaved so that both see
# the same load. Reports the median wall times, the throughput of the first as a share of the
# second, and the peak resident memory of each on one hour of input.
# Usage: bench/formats_end_to_end.sh [BUILD_DIR] [RUNS]
# LUMIVOX_VECTOR_UNIT (portable, sse2, avx2, avx512) pins the block path's unit as usual.
set -euo pipefail
build=${1:-build}
runs=${2:-3}
cli="$build/lumivox-cli"
[[ -x "$cli" ]] || { echo "no $cli: build first" >&2; exit 1; }
command -v sox >/dev/null || { echo "sox is needed (scripts/setup.sh test)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# make SECONDS: the four inputs of that length, the converted pair and the same audio as 16-bit
# 48 kHz wave files (without dither, so that the 16-bit carrier is the 24-bit one rounded).
make() {
    local seconds=$1
    sox -q -D -n -r 48000 -b 24 -c 1 "$work/carrier24.wav" synth "$seconds" sawtooth 110 \
        sawtooth 165 gain -6
    sox -q -D -n -r 22050 -b 16 -c 1 "$work/modulator22050.wav" synth "$seconds" pinknoise \
        tremolo 3 90 gain -3
    sox -q -D "$work/carrier24.wav" -b 16 "$work/carrier16.wav"
    sox -q -D "$work/modulator22050.wav" -r 48000 "$work/modulator48000.wav" rate -v
}

median() { printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"; }

# run NAME CARRIER MODULATOR: one timed run; sets wall and rss.
run() {
    /usr/bin/time -f "%e %M" -o "$work/time" "$cli" --quiet "$2" "$3" "$work/out-$1.wav"
    read -r wall rss <"$work/time"
}

echo "lumivox-cli, vector unit ${LUMIVOX_VECTOR_UNIT:-the widest this machine has}," \
    "$(nproc) cores, load: $(cut -d' ' -f1-3 /proc/loadavg)"
make 300
converted=()
plain=()
for ((i = 0; i < runs; i++)); do
    run converted "$work/carrier24.wav" "$work/modulator22050.wav"
    converted+=("$wall")
    run plain "$work/carrier16.wav" "$work/modulator48000.wav"
    plain+=("$wall")
done
c=$(median "${converted[@]}")
p=$(median "${plain[@]}")
echo "300 s: 24-bit 48 kHz carrier + 16-bit 22050 Hz modulator median ${c} s (all: ${converted[*]});" \
    "16-bit 48 kHz pair median ${p} s (all: ${plain[*]});" \
    "throughput $(awk -v c="$c" -v p="$p" 'BEGIN { printf "%.0f", 100 * p / c }') % of the 16-bit pair"

make 3600
run converted "$work/carrier24.wav" "$work/modulator22050.wav"
convertedRss=$rss
run plain "$work/carrier16.wav" "$work/modulator48000.wav"
echo "3600 s: peak resident memory $((convertedRss / 1024)) MB converted," \
    "$((rss / 1024)) MB for the 16-bit pair"
