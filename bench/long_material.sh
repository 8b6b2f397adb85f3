#!/usr/bin/env bash
# The 300 s material the cost benches time: a spoken sentence repeated to 300 s of 16-bit 44.1 kHz
# mono (DIR/speech.wav) and a sawtooth chord of the same length (DIR/carrier.wav), both with sox.
# Usage: bench/long_material.sh SENTENCE.wav DIR
set -euo pipefail
once=$1
dir=$2
sox -q "$once" -r 44100 -b 16 -c 1 "$dir/speech-once.wav"
count=$((300 * 44100 / $(soxi -s "$dir/speech-once.wav") + 1))
sox -q $(for ((i = 0; i < count; i++)); do echo "$dir/speech-once.wav"; done) \
    "$dir/speech.wav" trim 0 300
sox -q -n -r 44100 -b 16 -c 1 "$dir/carrier.wav" synth 300 sawtooth 130.81 sawtooth 164.81 \
    sawtooth 196 gain -9
