#!/usr/bin/env bash
# The follow sound's processor time against a carrier file's, on one core: lumivox-cli on 300 s of
# 16-bit 44.1 kHz speech with --carrier-sound follow:7 and with a carrier file of the same length,
# pinned to one core (taskset), user seconds, the builds' runs interleaved so that whatever else the
# machine runs weighs on all alike. Prints each build's best and median times and the ratio of the
# follow run to the carrier-file run of the same build.
# Usage: bench/follow_cost.sh [RUNS [CORE [BUILD_DIR...]]] (default 3 runs, core 1, build).
# LUMIVOX_VECTOR_UNIT (portable, sse2, avx2, avx512) pins the engine's vector unit as usual.
set -euo pipefail
runs=${1:-3}
core=${2:-1}
shift 2 || shift $#
builds=("$@")
((${#builds[@]})) || builds=(build)
for build in "${builds[@]}"; do
    [[ -x "$build/lumivox-cli" ]] || { echo "no $build/lumivox-cli: build first" >&2; exit 1; }
done
for tool in sox espeak-ng taskset; do
    command -v "$tool" >/dev/null || { echo "needs $tool" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

espeak-ng -w "$work/once.wav" "The quick brown fox jumps over the lazy dog. A voice alone is \
enough to make music, and every word of it should still be understood."
"$(dirname "$0")/long_material.sh" "$work/once.wav" "$work"

unit=${LUMIVOX_VECTOR_UNIT:-widest ($(grep -q avx512f /proc/cpuinfo && echo avx512 || echo avx2))}
echo "follow:7 against a carrier file, 300 s, core $core, $runs runs, vector unit $unit," \
    "load: $(cut -d' ' -f1-3 /proc/loadavg)"
declare -A times
userSeconds() {
    /usr/bin/time -f "%U" -o "$work/time" taskset -c "$core" "$@" >/dev/null
    cat "$work/time"
}
for ((i = 0; i < runs; i++)); do
    for build in "${builds[@]}"; do
        times[$build file]+="$(userSeconds "$build/lumivox-cli" --quiet "$work/carrier.wav" \
            "$work/speech.wav" "$work/out.wav") "
        times[$build follow]+="$(userSeconds "$build/lumivox-cli" --quiet --carrier-sound \
            follow:7 "$work/speech.wav" "$work/out.wav") "
    done
done
best() { printf '%s\n' "$@" | sort -n | head -1; }
median() { printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"; }
for build in "${builds[@]}"; do
    file=${times[$build file]}
    follow=${times[$build follow]}
    awk -v b="$build" -v fb="$(best $file)" -v fm="$(median $file)" -v wb="$(best $follow)" \
        -v wm="$(median $follow)" -v all="file: $file; follow: $follow" 'BEGIN {
        printf "%s: carrier file best %.2f s median %.2f s; follow:7 best %.2f s median %.2f s;" \
            " ratio best %.2f median %.2f (%s)\n", b, fb, fm, wb, wm, wb / fb, wm / fm, all }'
done
