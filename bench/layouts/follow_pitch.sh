#!/usr/bin/env bash
# The follow sound's pitch with each band layout: the share of voiced frames whose output pitch
# lies within 50 cents of the voice's plus the interval (aubio's yinfft, python3-aubio, at the
# output delay up to 80 ms that agrees best), on six voices at 44.1 kHz, at intervals 0, +7, -12;
# in brackets, the share of the frames where aubio's yin agrees with yinfft on the voice's own
# pitch (where they disagree, yinfft is wrong about the voice on most frames, see
# bench/pitch_agreement.py).
# Usage: bench/layouts/follow_pitch.sh [BUILD_DIR [LAYOUT...]] (layouts as --bands takes them;
# default classic speech). PITCH_WINDOW=SECONDS sets the trackers' window (default 0.046 s; see
# bench/pitch_agreement.py). Needs espeak-ng, flite, sox and python3-aubio (not linked).
set -euo pipefail
build=${1:-build}
shift || true
layouts=("$@")
((${#layouts[@]})) || layouts=(classic speech)
cli="$build/lumivox-cli"
[[ -x "$cli" ]] || { echo "no $cli: build first" >&2; exit 1; }
here=$(dirname "$0")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The voices and sentences of bench/sounds.sh, section 2b.
text="The quick brown fox jumps over the lazy dog. A voice alone is enough to make music, \
and every word of it should still be understood."
other="Please call Stella. Ask her to bring these things with her from the store: six spoons of \
fresh snow peas, five thick slabs of blue cheese, and maybe a snack for her brother Bob."
espeak-ng -w "$work/v-espeak.wav" "$text"
espeak-ng -v en+f3 -w "$work/v-f3.wav" "$other"
for voice in slt kal; do flite -voice "$voice" -t "$text" -o "$work/v-$voice.wav"; done
for voice in awb rms; do flite -voice "$voice" -t "$other" -o "$work/v-$voice.wav"; done

intervals=(0 7 -12)
echo "follow sound: % of voiced frames within 50 cents (yinfft, best delay up to 80 ms)"
printf '%-10s %-7s' layout voice
for s in "${intervals[@]}"; do printf ' %+14d' "$s"; done
echo
for layout in "${layouts[@]}"; do
    declare -A sum=() sureSum=()
    for voice in espeak f3 slt kal awb rms; do
        sox -q -D "$work/v-$voice.wav" -r 44100 -b 16 -c 1 "$work/voice.wav"
        printf '%-10s %-7s' "$layout" "$voice"
        for s in "${intervals[@]}"; do
            "$cli" --quiet --bands "$layout" --carrier-sound "follow:$s" "$work/voice.wav" \
                "$work/out.wav"
            share=$(/usr/bin/python3 "$here/../pitch_agreement.py" --yinfft --delayed \
                ${PITCH_WINDOW:+--window "$PITCH_WINDOW"} "$work/voice.wav" "$work/out.wav" "$s")
            sure=${share##*; }
            sure=${sure%% %*}
            share=${share%% %*}
            sum[$s]=$(awk -v a="${sum[$s]:-0}" -v b="$share" 'BEGIN { print a + b }')
            sureSum[$s]=$(awk -v a="${sureSum[$s]:-0}" -v b="$sure" 'BEGIN { print a + b }')
            printf ' %6s (%5s)' "$share" "$sure"
        done
        echo
    done
    printf '%-10s %-7s' "$layout" mean
    for s in "${intervals[@]}"; do
        awk -v a="${sum[$s]}" -v b="${sureSum[$s]}" 'BEGIN { printf " %6.1f (%5.1f)", a / 6, b / 6 }'
    done
    echo
    unset sum sureSum
done
