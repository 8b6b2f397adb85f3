#!/usr/bin/env bash
# Regenerates fuzz/sound_corpus/: the seeds of the sound-file fuzzer, a tenth of a second of two
# tones at 8 kHz in every format and depth libsndfile is asked to read, and a few damaged copies.
# Needs sox, flac, lame, opus-tools and sndfile-programs (scripts/setup.sh test installs them).
# sox's dither is off so that the lossless files come out the same every run.
set -euo pipefail
cd "$(dirname "$0")/.."

out=fuzz/sound_corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$out"
mkdir -p "$out"

sox -D -r 8000 -n -b 16 -c 2 "$work/tones.wav" synth 0.1 sine 440 sine 1000 gain -3
sox -D "$work/tones.wav" -c 1 "$work/mono.wav"

sox -D "$work/mono.wav" -b 24 "$out/mono24.wav"
sox -D "$work/mono.wav" -b 32 "$out/mono32.wav"
sox -D "$work/mono.wav" -e floating-point -b 32 "$out/float32.wav"
sox -D "$work/tones.wav" -e floating-point -b 64 "$out/stereo-float64.w64"
sox -D "$work/tones.wav" -b 24 "$out/stereo24.aiff"
sox -D "$work/mono.wav" -b 8 "$out/mono8.aiff"
sox -D "$work/tones.wav" -e floating-point -b 32 "$out/stereo-float.aifc"
sox -D "$work/tones.wav" -c 6 -b 24 "$out/six-channels24.wav"
sndfile-convert -pcm24 "$work/mono.wav" "$out/mono24.rf64"
flac --silent --best -o "$out/stereo16.flac" "$work/tones.wav"
sox -D "$work/mono.wav" -b 24 "$work/mono24.wav"
flac --silent -o "$out/mono24.flac" "$work/mono24.wav"
sox -D "$work/tones.wav" -C 0 "$out/stereo.ogg"
opusenc --quiet --bitrate 16 "$work/mono.wav" "$out/mono.opus"
lame --quiet -b 32 "$work/mono.wav" "$out/mono.mp3"

# Damaged copies: cut off in the middle, and with a stretch of the middle overwritten.
size=$(stat -c %s "$out/stereo16.flac")
head -c $((size / 2)) "$out/stereo16.flac" >"$out/cut-off.flac"
size=$(stat -c %s "$out/stereo.ogg")
head -c $((size / 2)) "$out/stereo.ogg" >"$out/cut-off.ogg"
cp "$out/mono.mp3" "$out/overwritten.mp3"
printf '\xff\xfb\x00\x13%.0s' $(seq 1 64) |
    dd of="$out/overwritten.mp3" bs=1 seek=$(($(stat -c %s "$out/mono.mp3") / 2)) conv=notrunc status=none

# A carrier of ten frames, and a FLAC file whose header says nothing of its length (as a stream
# writes it): the total sample count in STREAMINFO zeroed, keeping the high nibble of its byte.
sox -D "$work/mono.wav" -C 0 "$out/ten-frames.ogg" trim 0 10s
cp "$out/mono24.flac" "$out/length-unknown.flac"
byte=$(od -An -tu1 -j21 -N1 "$out/length-unknown.flac" | tr -d ' ')
printf "\\x$(printf %02x $((byte & 0xF0)))\\x00\\x00\\x00\\x00" |
    dd of="$out/length-unknown.flac" bs=1 seek=21 conv=notrunc status=none

ls -l "$out"
