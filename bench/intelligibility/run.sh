#!/bin/bash
# How intelligible vocoded speech is: Lumivox at several Clarity positions and the vocoders a
# Linux user would pick, on the same spoken sentences with a sawtooth-chord and a white-noise
# carrier, scored by STOI and by the word accuracy of a speech recogniser. Prints one table.
#
#   bench/intelligibility/run.sh [BUILD_DIR [SENTENCE_COUNT]]
#
# Needs (and installs, as root, when missing) Debian's flite, espeak-ng, sox, pocketsphinx with
# its US English model, numpy/scipy, calf-plugins, mda-lv2, lilv-utils, python3-pyo and faust;
# these only measure and are never linked. Work files go to BUILD_DIR/intelligibility/.
# CLARITY_STEPS (default "0 25 50 75 100") and PEERS (default "mda calf pyo faust") narrow a run;
# the outputs of systems left out stay from earlier runs and are scored with the rest, and the
# recogniser only hears files that are new or changed. The sentences and carriers are made once;
# remove BUILD_DIR/intelligibility/ to start afresh.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
sentenceCount=${2:-30}
steps=${CLARITY_STEPS-0 25 50 75 100}
peers=${PEERS-mda calf pyo faust}
work=$build/intelligibility
python=/usr/bin/python3 # Debian's, with Debian's numpy, scipy and pyo

needed=(flite espeak-ng sox pocketsphinx pocketsphinx-en-us python3-numpy python3-scipy
    calf-plugins mda-lv2 lilv-utils python3-pyo faust libsndfile1-dev g++)
missing=()
for package in "${needed[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
done
if ((${#missing[@]})); then
    if [[ $(id -u) != 0 ]]; then
        echo "missing packages (install them as root): ${missing[*]}" >&2
        exit 1
    fi
    apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null || {
        apt-get update >/dev/null
        apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null
    }
fi
[[ -x $build/lumivox-cli ]] || {
    echo "no $build/lumivox-cli: build it first" >&2
    exit 1
}

mkdir -p "$work"/{speech,carriers,out,tools}

# The sentences: flite voices at 16 kHz, espeak-ng at 22.05 kHz, all brought to 44.1 kHz 16-bit
# mono with a quarter second of silence around them and their peak at -1 dBFS.
: >"$work/texts"
index=0
while IFS='|' read -r voice text; do
    [[ -z $voice || $voice == \#* ]] && continue
    ((index < sentenceCount)) || break
    name=$(printf 's%02d' "$index")
    raw=$work/speech/$name.raw.wav
    printf '%s|%s\n' "$name" "$text" >>"$work/texts"
    index=$((index + 1))
    [[ -f $work/speech/$name.wav ]] && continue # made by an earlier run
    if [[ $voice == espeak-ng:* ]]; then
        espeak-ng -v "${voice#espeak-ng:}" -s 150 -w "$raw" "$text"
    else
        flite -voice "$voice" -t "$text" -o "$raw"
    fi
    sox "$raw" -r 44100 -b 16 -c 1 "$work/speech/$name.wav" rate -v pad 0.25 0.25 norm -1
done <"$here/sentences.txt"

# The carriers: a C major sawtooth chord (C3 E3 G3 C4) and white noise, both peaking at -10 dBFS
# so that Lumivox at Output Gain 50 does not clip on these sentences. Made once, so that systems
# rendered in later runs meet the same noise (-R seeds it the same way every time anyway).
[[ -f $work/carriers/chord.wav ]] || sox -n -r 44100 -b 16 -c 1 "$work/carriers/chord.wav" \
    synth 8 sawtooth 130.81 sawtooth 164.81 sawtooth 196.00 sawtooth 261.63 remix 1-4 norm -10
[[ -f $work/carriers/noise.wav ]] || sox -R -n -r 44100 -b 16 -c 1 "$work/carriers/noise.wav" \
    synth 8 whitenoise norm -10

# Faust's vocoder, compiled once into a program that reads and writes sound files.
faustProgram=$work/tools/faust_vocoder
if [[ ! -x $faustProgram || $here/faust_vocoder.dsp -nt $faustProgram ]]; then
    faust -a sndfile.cpp "$here/faust_vocoder.dsp" -o "$faustProgram.cpp"
    g++ -O2 -DFILE_MODE=INPUT_OUTPUT_FILE -I/usr/share/faust "$faustProgram.cpp" -lsndfile \
        -o "$faustProgram"
fi

# render SYSTEM CARRIER MODULATOR OUTPUT: one vocoded sentence, as long as the sentence.
render() {
    local system=$1 carrier=$2 modulator=$3 output=$4
    local trimmed=$output.carrier.wav pair=$output.in.wav
    sox "$carrier" "$trimmed" trim 0 "$(soxi -s "$modulator")s"
    case $system in
    lumivox-*)
        local options=()
        # Clarity 0 is the default, so that step also runs on builds without the option.
        [[ ${system#lumivox-} == 0 ]] || options=(--clarity "${system#lumivox-}")
        "$build/lumivox-cli" --quiet "${options[@]}" "$trimmed" "$modulator" "$output"
        ;;
    mda)
        # mda's Vocoder takes the voice on the left and the carrier on the right; its
        # high-frequency pass-through (Hi Thru) is on at its default.
        sox -M "$modulator" "$trimmed" -e floating-point -b 32 "$pair"
        lv2apply -i "$pair" -o "$output.stereo.wav" http://drobilla.net/plugins/mda/Vocoder
        sox "$output.stereo.wav" "$output" remix 1
        ;;
    calf)
        # Calf's Vocoder: the carrier on its two main inputs, the voice on its side chain.
        sox -M "$trimmed" "$trimmed" "$modulator" "$modulator" -e floating-point -b 32 "$pair"
        lv2apply -i "$pair" -o "$output.stereo.wav" http://calf.sourceforge.net/plugins/Vocoder
        sox "$output.stereo.wav" "$output" remix 1
        ;;
    pyo)
        "$python" "$here/pyo_vocoder.py" "$trimmed" "$modulator" "$output" >/dev/null 2>&1
        ;;
    faust)
        sox -M "$modulator" "$trimmed" -e floating-point -b 32 "$pair"
        "$faustProgram" "$pair" "$output" >/dev/null
        ;;
    esac
    rm -f "$trimmed" "$pair" "$output.stereo.wav"
}

systems=()
for step in $steps; do systems+=("lumivox-$step"); done
for peer in $peers; do systems+=("$peer"); done

# Outputs of systems left out of this run stay and are scored again (KEEP=0 clears them all).
if [[ ${KEEP:-1} == 0 ]]; then
    rm -rf "${work:?}"/out/*
fi

for carrier in chord noise; do
    for system in "${systems[@]}"; do
        rm -rf "${work:?}/out/$carrier/$system"
        mkdir -p "$work/out/$carrier/$system"
        while IFS='|' read -r name _; do
            render "$system" "$work/carriers/$carrier.wav" "$work/speech/$name.wav" \
                "$work/out/$carrier/$system/$name.wav"
        done <"$work/texts"
    done
done

"$python" "$here/score.py" "$work"
