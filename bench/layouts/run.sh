#!/bin/bash
# Measures band layouts for vocoded speech with the model in vocoder.py (see README): makes the
# sentences and carriers, checks the model's classic layout against lumivox-cli, then scores the
# layouts given (default: classic and the chosen speech layout with its runners-up) on the tuning
# and the held-out half and prints one line per layout and half.
#
#   bench/layouts/run.sh [BUILD_DIR [LAYOUT...]]
#
# Needs (and installs, as root, when missing) Debian's flite, espeak-ng, sox, pocketsphinx with
# its US English model and numpy/scipy; these only measure and are never linked. Work files go to
# BUILD_DIR/layouts/ (remove it to start afresh; scored layouts are kept in results.json there).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
shift || true
work=$build/layouts
python=/usr/bin/python3 # Debian's, with Debian's numpy and scipy

needed=(flite espeak-ng sox pocketsphinx pocketsphinx-en-us python3-numpy python3-scipy)
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

layouts=("$@")
if ((${#layouts[@]} == 0)); then
    layouts=(classic 16:100:8000:1000:0.9:-6 18:100:8000:1000:0.9:-6 20:100:8000:1000:0.9:-6
        16:100:8000:1500:0.9:-8)
fi

mkdir -p "$work"
"$here/make_speech.sh" "$work"
export PYTHONDONTWRITEBYTECODE=1
if [[ -x $build/lumivox-cli ]]; then
    "$python" "$here/check_model.py" "$work" "$build/lumivox-cli"
else
    echo "no $build/lumivox-cli: the model is not checked against the program" >&2
fi
for half in tuning heldout; do
    "$python" "$here/layouts.py" "$work" "$half" "${layouts[@]}"
done
"$python" "$here/layouts.py" "$work" table "${layouts[@]}"
