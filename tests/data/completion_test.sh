#!/usr/bin/env bash
# The bash completion of lumivox-cli offers, for each operand, the folders and the files it can
# take: recordings the program reads for CARRIER and MODULATOR, the formats it writes for OUTPUT,
# their extensions in any case.
#   completion_test.sh COMPLETION_FILE
set -euo pipefail
completion=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir takes
touch a.WAV b.flac c.Mp3 d.ogg e.opus f.aif g.AIFC h.rf64 i.w64 j.aiff notes.txt k.m4a l.wavx
source "$completion"

inputs='a.WAV b.flac c.Mp3 d.ogg e.opus f.aif g.AIFC h.rf64 i.w64 j.aiff takes'
outputs='a.WAV b.flac c.Mp3 d.ogg e.opus j.aiff takes'
failed=0
# The words typed before the one being completed (an empty word), and what must be offered.
while IFS='|' read -r typed wanted; do
    read -r -a COMP_WORDS <<<"lumivox-cli $typed"
    COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _lumivox_cli || true # compopt fails outside a completion; the replies still stand
    offered=$(printf '%s\n' "${COMPREPLY[@]}" | sort | xargs)
    expected=$(printf '%s\n' $wanted | sort | xargs)
    if [[ "$offered" != "$expected" ]]; then
        echo "FAILED: after 'lumivox-cli $typed' offered: $offered; wanted: $expected" >&2
        failed=1
    fi
done <<TABLE
|$inputs
--gain 80|$inputs
a.WAV|$inputs
a.WAV b.flac|$outputs
--gain = 8 --clarity 20 a.WAV b.flac|$outputs
--normalize = -1 a.WAV b.flac|$outputs
--carrier-sound chord|$inputs
--carrier-sound = noise b.flac|$outputs
--carrier-sound=follow b.flac|$outputs
--preview --quiet a.WAV|$inputs
-- a.WAV b.flac|$outputs
TABLE
exit $failed
