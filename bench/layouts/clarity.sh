#!/bin/bash
# Clarity with the speech layout, as the program runs it: lumivox-cli at Clarity 0 and 50 on the
# tuning and the held-out half of the widened bench (make_speech.sh: 160 sentences, twelve
# voices, the chord and the noise carrier), then the table of both halves with the figures of the
# first 120 sentences and of the forty newer ones apart, then the follow sound's pitch.
#
#   bench/layouts/clarity.sh [BUILD_DIR [OPTIONS...]]
#
# OPTIONS are further comma-separated lumivox-cli option lists to score beside the two (such as
# --bands=speech,--clarity=100). Needs what run.sh and follow_pitch.sh need. The recogniser is slow:
# about four minutes a design and half on two cores. Scores are kept in BUILD_DIR/layouts/results.json
# by design: remove it after rebuilding the program, or the old figures are shown again.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
shift || true
work=$build/layouts
python=/usr/bin/python3
[[ -x $build/lumivox-cli ]] || { echo "no $build/lumivox-cli: build first" >&2; exit 1; }

designs=(program:--bands=speech program:--bands=speech,--clarity=50)
for options in "$@"; do designs+=("program:$options"); done

mkdir -p "$work"
"$here/make_speech.sh" "$work"
export PYTHONDONTWRITEBYTECODE=1 LUMIVOX_CLI=$build/lumivox-cli
for half in tuning heldout; do
    nice "$python" "$here/layouts.py" "$work" "$half" "${designs[@]}"
done
"$python" "$here/layouts.py" "$work" table "${designs[@]}"
nice "$here/follow_pitch.sh" "$build" speech
