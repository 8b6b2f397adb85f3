#!/usr/bin/env bash
# Regenerates the example recordings in examples/: a spoken-phrase modulator (espeak-ng) and a
# synth-chord carrier of the same length (sox), both 16-bit mono at 22050 Hz. Needs sox and
# espeak-ng (scripts/setup.sh test installs them). Dither is off so that every run writes the
# same bytes.
set -euo pipefail
cd "$(dirname "$0")/.."

rate=22050
phrase="Lumivox turns a voice into a synthesizer."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p examples

# The phrase, trimmed of the silence espeak-ng leaves around it, with a short pause at each end.
espeak-ng -v en -s 150 -w "$work/phrase.wav" "$phrase"
sox -D "$work/phrase.wav" -r "$rate" -b 16 -c 1 examples/modulator-speech.wav \
    silence 1 0.02 0.5% reverse silence 1 0.02 0.5% reverse pad 0.1 0.1 gain -n -1

# An A major chord of four sawtooth voices, mixed to one channel, as long as the phrase.
duration=$(soxi -D examples/modulator-speech.wav)
sox -D -r "$rate" -c 4 -n -b 16 -c 1 examples/carrier-chord.wav \
    synth "$duration" sawtooth 110 sawtooth 138.59 sawtooth 164.81 sawtooth 220 \
    remix - gain -n -3 fade 0.02 -0 0.05

ls -l examples/carrier-chord.wav examples/modulator-speech.wav
