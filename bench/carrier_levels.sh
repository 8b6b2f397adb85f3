#!/usr/bin/env bash
# The output level of the built-in carriers at default settings: the peak lumivox-cli reports for
# the chord at every root from C2 to C4 in whole tones and every type, and for noise, on three
# espeak-ng voices (and flite's slt when flite is installed). Not a test: a table to read.
# Usage: bench/carrier_levels.sh [BUILD_DIR]
set -euo pipefail
build=${1:-build}
cli="$build/lumivox-cli"
[[ -x "$cli" ]] || { echo "no $cli: build first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
text="The quick brown fox jumps over the lazy dog. A voice alone is enough to make music, \
and every word of it should still be understood."
voices=()
for voice in en+m3 en-us+f3 en-gb-x-rp+m1; do
    espeak-ng -v "$voice" -w "$work/$voice.wav" "$text"
    voices+=("$work/$voice.wav")
done
if command -v flite >/dev/null; then
    flite -voice slt -t "$text" -o "$work/flite-slt.wav"
    voices+=("$work/flite-slt.wav")
fi
peak() { "$cli" "$@" "$work/out.wav" 2>&1 | sed -n 's/.*peak \([^ ]*\) dBFS.*/\1/p' | head -1; }
for voice in "${voices[@]}"; do
    name=$(basename "$voice" .wav)
    all=()
    for type in major minor fifth octave; do
        row="$name chord $type:"
        for root in C2 D2 E2 F#2 G#2 A#2 C3 D3 E3 F#3 G#3 A#3 C4; do
            value=$(peak --carrier-sound "chord:$root:$type" "$voice")
            row+=" $root $value"
            all+=("$value")
        done
        echo "$row"
    done
    sorted=$(printf '%s\n' "${all[@]}" | sort -g)
    echo "$name chord: lowest $(head -1 <<<"$sorted") dBFS, highest $(tail -1 <<<"$sorted") dBFS"
    echo "$name noise: $(peak --carrier-sound noise "$voice") dBFS"
done
