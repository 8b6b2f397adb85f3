#!/bin/bash
# Speaks bench/layouts/sentences.txt into WORK/speech/ and makes the two carriers of
# bench/intelligibility/run.sh in WORK/carriers/. The sentences split into two halves that share
# neither a sentence nor a voice: the odd lines (tuning) are spoken in turn by flite's slt and awb
# and espeak-ng's en-us, the even lines (held out) by flite's rms and kal16 and espeak-ng's
# en-gb-x-rp. The forty of sentences_more.txt split the same way between voices used nowhere else:
# espeak-ng's en-us+f2, flite's awb spoken slower and slt higher (tuning); espeak-ng's
# en-gb-scotland+m3, flite's rms faster and lower and kal16 lower (held out). The forty of
# sentences_check.txt are a third half, "check", scored once after a choice: seven voices used
# nowhere else speak them in turn (flite's slt and awb faster, rms and kal16 slower, espeak-ng's
# en-029, en-us+f4 and en-gb-x-gbcwmd+m2). Every sentence is
# brought to 44.1 kHz 16-bit mono with a quarter second of silence around it and its peak at
# -1 dBFS, as run.sh does. WORK/texts lists name|half|voice|text.
#
#   bench/layouts/make_speech.sh WORK
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
work=${1:?usage: make_speech.sh WORK}
mkdir -p "$work"/{speech,carriers}

# A flite voice may carry a variant: -high, -low (mean pitch), -slow, -fast (duration).
declare -A variants=([high]="int_f0_target_mean=230" [low]="int_f0_target_mean=95"
    [slow]="duration_stretch=1.15" [fast]="duration_stretch=0.9")

speak() {
    local voice=$1 text=$2 raw=$3
    if [[ $voice == espeak-ng:* ]]; then
        espeak-ng -v "${voice#espeak-ng:}" -s 150 -w "$raw" "$text"
    else
        local settings=()
        local rest=${voice#*-}
        [[ $rest != "$voice" ]] && for v in ${rest//-/ }; do settings+=(--setf "${variants[$v]}"); done
        flite -voice "${voice%%-*}" "${settings[@]}" -t "$text" -o "$raw"
    fi
}

: >"$work/texts.new"
# speakList FILE PREFIX TUNING_VOICES... -- HELD_OUT_VOICES...
# speakList FILE PREFIX --check VOICES...: every line in the check half, the voices in turn.
speakList() {
    local file=$1 prefix=$2
    shift 2
    local tuningVoices=() heldOutVoices=() checkVoices=()
    if [[ $1 == --check ]]; then
        shift
        checkVoices=("$@")
    else
        while [[ $1 != -- ]]; do tuningVoices+=("$1"); shift; done
        shift
        heldOutVoices=("$@")
    fi
    local line=0 text half voice name raw
    while IFS= read -r text; do
        [[ -z $text || $text == \#* ]] && continue
        if ((${#checkVoices[@]})); then
            half=check
            voice=${checkVoices[$((line % ${#checkVoices[@]}))]}
        elif ((line % 2 == 0)); then
            half=tuning
            voice=${tuningVoices[$((line / 2 % 3))]}
        else
            half=heldout
            voice=${heldOutVoices[$((line / 2 % 3))]}
        fi
        name=$(printf '%s%s%03d' "$prefix" "${half:0:1}" "$line")
        line=$((line + 1))
        printf '%s|%s|%s|%s\n' "$name" "$half" "$voice" "$text" >>"$work/texts.new"
        [[ -f $work/speech/$name.wav ]] && continue
        raw=$work/speech/$name.raw.wav
        speak "$voice" "$text" "$raw"
        sox "$raw" -r 44100 -b 16 -c 1 "$work/speech/$name.wav" rate -v pad 0.25 0.25 norm -1
        rm -f "$raw"
    done <"$file"
}
speakList "$here/sentences.txt" "" slt awb espeak-ng:en-us -- rms kal16 espeak-ng:en-gb-x-rp
speakList "$here/sentences_more.txt" m espeak-ng:en-us+f2 awb-slow slt-high \
    -- espeak-ng:en-gb-scotland+m3 rms-fast-low kal16-low
speakList "$here/sentences_check.txt" c --check slt-fast awb-fast rms-slow kal16-slow \
    espeak-ng:en-029 espeak-ng:en-us+f4 espeak-ng:en-gb-x-gbcwmd+m2
mv "$work/texts.new" "$work/texts"

# The carriers of run.sh: a C major sawtooth chord (C3 E3 G3 C4) and white noise, both peaking at
# -10 dBFS.
[[ -f $work/carriers/chord.wav ]] || sox -n -r 44100 -b 16 -c 1 "$work/carriers/chord.wav" \
    synth 8 sawtooth 130.81 sawtooth 164.81 sawtooth 196.00 sawtooth 261.63 remix 1-4 norm -10
[[ -f $work/carriers/noise.wav ]] || sox -R -n -r 44100 -b 16 -c 1 "$work/carriers/noise.wav" \
    synth 8 whitenoise norm -10
