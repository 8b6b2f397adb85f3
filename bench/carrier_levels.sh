#!/usr/bin/env bash
# The output level of the built-in carriers at default settings: the peak lumivox-cli reports for
# the chord at every root from C2 to C4 and every type, and for the noise, on espeak-ng voices and
# (when flite is installed) flite's slt, rms, awb and kal16 voices at their own 16 kHz and at
# 44.1 kHz. The voices are stored as 32-bit float, so the output is float too and a peak beyond
# full scale is shown as it is. Per voice: the lowest and highest chord peak, and the widest
# swing over roots within one type. Not a test: a table to read.
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
for voice in en+m3 en-us+f3 en-gb-x-rp+m1 en+f4 de+m2 fr+f2; do
    espeak-ng -v "$voice" -w "$work/raw.wav" "$text"
    sox "$work/raw.wav" -e floating-point -b 32 "$work/espeak-$voice.wav"
    voices+=("$work/espeak-$voice.wav")
done
if command -v flite >/dev/null; then
    for voice in slt rms awb kal16; do
        flite -voice "$voice" -t "$text" -o "$work/raw.wav"
        sox "$work/raw.wav" -e floating-point -b 32 "$work/flite-$voice-16k.wav"
        sox "$work/raw.wav" -e floating-point -b 32 -r 44100 "$work/flite-$voice-44k.wav"
        voices+=("$work/flite-$voice-16k.wav" "$work/flite-$voice-44k.wav")
    done
fi
peak() { "$cli" "$@" "$work/out.wav" 2>&1 | sed -n 's/.*peak \([^ ]*\) dBFS.*/\1/p' | head -1; }
roots=(C2 C#2 D2 D#2 E2 F2 F#2 G2 G#2 A2 A#2 B2 C3 C#3 D3 D#3 E3 F3 F#3 G3 G#3 A3 A#3 B3 C4)
printf '%-22s %9s %9s %12s %7s\n' voice "chord low" "chord high" "root swing" noise
for voice in "${voices[@]}"; do
    name=$(basename "$voice" .wav)
    all=()
    swing=0
    for type in major minor fifth octave; do
        values=()
        for root in "${roots[@]}"; do
            values+=("$(peak --carrier-sound "chord:$root:$type" "$voice")")
        done
        all+=("${values[@]}")
        swing=$(printf '%s\n' "${values[@]}" | sort -g \
            | awk -v s="$swing" 'NR == 1 { low = $1 } { high = $1 } END { w = high - low; print (w > s ? w : s) }')
    done
    sorted=$(printf '%s\n' "${all[@]}" | sort -g)
    printf '%-22s %9s %9s %12.1f %7s\n' "$name" "$(head -1 <<<"$sorted")" "$(tail -1 <<<"$sorted")" \
        "$swing" "$(peak --carrier-sound noise "$voice")"
done
