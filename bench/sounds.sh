#!/usr/bin/env bash
# Measures of the built-in carriers, none of them a test:
#  1. the chord's band-limiting over the whole band at every root and type (lumivox-bench-sounds);
#  2. how well "follow" follows: the pitch of the follow carrier alone (listening a block ahead as
#     a Vocode does, and in step as a Preview does) and of the vocoded output, against the
#     modulator's pitch plus the interval, on speech from espeak-ng and flite and on a synthetic
#     sung line, measured with aubio's YIN (not this program's tracker): by bench/pitch_agreement.py
#     (python3-aubio), where a frame counts when both files have a pitch with aubio's confidence
#     of 0.8 or more, and by the aubiopitch program, which gives no confidence, where a frame
#     counts when both pitches lie in the voice's range (50 to 1100 Hz, moved by the interval);
#     a frame agrees within 50 cents. The vocoded output is compared as it is and after the
#     constant delay (up to 70 ms) that agrees best, which the band filters add to what they pass;
#     2b. the vocoded output at every interval from -12 to +12 on six voices, as in 2;
#  3. the cost: lumivox-cli on 300 s of 16-bit 44.1 kHz speech with each built-in carrier against
#     a carrier file of the same length, runs interleaved, median wall times.
# Usage: bench/sounds.sh [BUILD_DIR] [RUNS]. The measuring tools (aubio-tools, python3-aubio,
# espeak-ng, flite, sox) are installed when missing and this runs as root; they are never linked.
# LUMIVOX_VECTOR_UNIT (portable, sse2, avx2, avx512) pins the engine's vector unit as usual.
set -euo pipefail
build=${1:-build}
runs=${2:-5}
cli="$build/lumivox-cli"
measure="$build/lumivox-bench-sounds"
for program in "$cli" "$measure"; do
    [[ -x "$program" ]] || { echo "no $program: build first" >&2; exit 1; }
done
missing=()
for tool in sox:sox espeak-ng:espeak-ng flite:flite aubiopitch:aubio-tools; do
    command -v "${tool%%:*}" >/dev/null || missing+=("${tool#*:}")
done
/usr/bin/python3 -c 'import aubio' 2>/dev/null || missing+=(python3-aubio)
if ((${#missing[@]})); then
    [[ $(id -u) == 0 ]] || { echo "needs ${missing[*]} (apt-get install)" >&2; exit 1; }
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
median() { printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"; }
unit=${LUMIVOX_VECTOR_UNIT:-widest ($(grep -q avx512f /proc/cpuinfo && echo avx512 || echo avx2))}

echo "== 1. chord band-limiting"
"$measure" chord

echo
echo "== 2. follow: pitch against the modulator's plus the interval (aubio's yin)"
text="The quick brown fox jumps over the lazy dog. A voice alone is enough to make music, \
and every word of it should still be understood."
espeak-ng -w "$work/espeak.wav" "$text"
flite -voice slt -t "$text" -o "$work/flite.wav"
# A sung line: a sawtooth-like voice with vibrato through three vowel formants, legato notes and
# breaths between phrases (noise), at 44.1 kHz.
python3 - "$work/sung.wav" <<'PY'
import math, random, struct, sys, wave
rate = 44100
notes = [196.0, 220.0, 246.94, 293.66, 392.0, 329.63, 293.66, 246.94]  # G3 A3 B3 D4 G4 E4 D4 B3
formants = [(700.0, 110.0), (1220.0, 120.0), (2600.0, 160.0)]
def envelope(f):
    return sum(1.0 / (1.0 + ((f - c) / w) ** 2) for c, w in formants) + 0.02
random.seed(1)
out, phase, freq = [], 0.0, notes[0]
for index, target in enumerate(notes):
    for n in range(int(0.5 * rate)):
        t = len(out) / rate
        freq += (target - freq) * 0.002  # a legato glide into each note
        f = freq * 2 ** (0.3 / 12 * math.sin(2 * math.pi * 5.5 * t))  # vibrato of 30 cents
        phase += 2 * math.pi * f / rate
        value = sum(envelope(k * f) * math.sin(k * phase) / k for k in range(1, int(5000 / f)))
        out.append(0.12 * value)
    if index % 4 == 3:  # a breath after every four notes
        out.extend(0.05 * random.uniform(-1, 1) for _ in range(int(0.25 * rate)))
peak = max(abs(v) for v in out)
with wave.open(sys.argv[1], "wb") as w:
    w.setnchannels(1); w.setsampwidth(2); w.setframerate(rate)
    w.writeframes(b"".join(struct.pack("<h", int(30000 * v / peak)) for v in out))
PY

agreement() { /usr/bin/python3 "$(dirname "$0")/pitch_agreement.py" "$@"; }
pitches() { aubiopitch -i "$1" -p yin -l 0.2 -s -45 -B 2048 -H 256 -u Hz 2>/dev/null; }
# The aubiopitch program's view: frames where both pitches lie in the voice's range.
ranged() {
    paste <(pitches "$1") <(pitches "$2") | awk -v shift="$3" '
        function voiced(f, s) { return f >= 50 * 2 ^ (s / 12) && f <= 1100 * 2 ^ (s / 12) }
        voiced($2, 0) && voiced($4, shift) {
            both++
            cents = 1200 * log($4 / ($2 * 2 ^ (shift / 12))) / log(2)
            if (cents < 0) cents = -cents
            if (cents <= 50) near++
        }
        END { if (both) printf "%5.1f %% of %4d frames", 100 * near / both, both; else printf "no frames" }'
}
echo "confident frames (python3-aubio, confidence >= 0.8):"
echo "source  interval   carrier, a block ahead | carrier, in step | vocoded output" \
    "| vocoded output, delayed || aubiopitch in range: carrier ahead"
for source in espeak flite sung; do
    # At 44.1 kHz, the rate the band filters are laid out for.
    modulator="$work/$source-16.wav"
    sox -q "$work/$source.wav" -r 44100 -b 16 -c 1 "$modulator"
    for semitones in 0 7 -12; do
        "$measure" follow "$work/$source-16.wav" "$work/ahead.wav" "$semitones" ahead
        "$measure" follow "$work/$source-16.wav" "$work/live.wav" "$semitones" live
        "$cli" --quiet --carrier-sound "follow:$semitones" "$work/$source-16.wav" "$work/out.wav"
        printf '%-6s %+3d st:  %s | %s | %s | %s || %s\n' "$source" "$semitones" \
            "$(agreement "$modulator" "$work/ahead.wav" "$semitones")" \
            "$(agreement "$modulator" "$work/live.wav" "$semitones")" \
            "$(agreement "$modulator" "$work/out.wav" "$semitones")" \
            "$(agreement --delayed "$modulator" "$work/out.wav" "$semitones")" \
            "$(ranged "$modulator" "$work/ahead.wav" "$semitones")"
    done
done

echo
echo "== 2b. follow: the vocoded output at every interval, six voices (aubio's yin, delayed)"
# Two sentences, six voices: espeak-ng's default and its f3 voice, flite's slt, kal, awb and rms.
# Each figure is the share of confident frames within 50 cents, after the delay that agrees best.
other="Please call Stella. Ask her to bring these things with her from the store: six spoons of \
fresh snow peas, five thick slabs of blue cheese, and maybe a snack for her brother Bob."
espeak-ng -w "$work/v-espeak.wav" "$text"
espeak-ng -v en+f3 -w "$work/v-f3.wav" "$other"
for voice in slt kal; do flite -voice "$voice" -t "$text" -o "$work/v-$voice.wav"; done
for voice in awb rms; do flite -voice "$voice" -t "$other" -o "$work/v-$voice.wav"; done
printf '%-7s' voice
for ((semitones = -12; semitones <= 12; semitones++)); do printf ' %+5d' "$semitones"; done
echo
for voice in espeak f3 slt kal awb rms; do
    sox -q -D "$work/v-$voice.wav" -r 44100 -b 16 -c 1 "$work/voice.wav" # no dither: repeatable
    printf '%-7s' "$voice"
    for ((semitones = -12; semitones <= 12; semitones++)); do
        "$cli" --quiet --carrier-sound "follow:$semitones" "$work/voice.wav" "$work/out.wav"
        share=$(agreement --delayed "$work/voice.wav" "$work/out.wav" "$semitones")
        printf ' %5s' "${share%% %*}"
    done
    echo
done

echo
echo "== 3. cost against a carrier file, 300 s of 16-bit 44.1 kHz, $runs runs each, vector unit" \
    "$unit, $(nproc) cores, load: $(cut -d' ' -f1-3 /proc/loadavg)"
"$(dirname "$0")/long_material.sh" "$work/espeak.wav" "$work"
# Wall time suffers from whatever else the machine runs; the CPU time (user + system) much less.
declare -A walls cpus
carriers=(file chord noise follow)
for ((i = 0; i < runs; i++)); do
    for carrier in "${carriers[@]}"; do
        if [[ $carrier == file ]]; then
            args=("$work/carrier.wav")
        else
            args=(--carrier-sound "$carrier")
        fi
        /usr/bin/time -f "%e %U %S" -o "$work/time" "$cli" --quiet "${args[@]}" \
            "$work/speech.wav" "$work/out-$carrier.wav"
        read -r wall user system <"$work/time"
        walls[$carrier]+="$wall "
        cpus[$carrier]+="$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }') "
    done
done
wallBase=$(median ${walls[file]})
cpuBase=$(median ${cpus[file]})
against() { awk -v m="$1" -v b="$2" 'BEGIN { printf "%+.1f %%", 100 * (m / b - 1) }'; }
for carrier in "${carriers[@]}"; do
    wall=$(median ${walls[$carrier]})
    cpu=$(median ${cpus[$carrier]})
    echo "$carrier: CPU median ${cpu} s ($(against "$cpu" "$cpuBase")), wall median ${wall} s" \
        "($(against "$wall" "$wallBase")); CPU all: ${cpus[$carrier]}; wall all: ${walls[$carrier]}"
done
