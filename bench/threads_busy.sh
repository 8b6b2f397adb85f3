#!/usr/bin/env bash
# Times lumivox-cli on 300 s of 16-bit 44.1 kHz mono at three slider settings (default; Vagueness
# 50 with Instrument Clearance 30; Vagueness 100) four ways: held to one core (taskset -c 0, so one
# thread), and by its own choice of one thread or two, each on a quiet machine and beside a busy
# competitor: a shell loop the scheduler may put on either core (COMPETITOR=unpinned, the
# default), or sha256sum /dev/zero pinned to the second core (COMPETITOR=pinned). Runs are interleaved so that all
# see the same load; reports the median wall time of each and the ratios to one thread, and
# checks every output is the same file. With OTHER_CLI set, the same runs of that program (e.g. a
# build of the commit before) are interleaved too. Usage: bench/threads_busy.sh [BUILD_DIR] [RUNS]
# LUMIVOX_VECTOR_UNIT (portable, sse2, avx2, avx512) pins the vector unit as usual.
set -euo pipefail
build=${1:-build}
runs=${2:-5}
cli="$build/lumivox-cli"
[[ -x "$cli" ]] || { echo "no $cli: build first" >&2; exit 1; }
command -v sox >/dev/null || { echo "sox is needed (scripts/setup.sh test)" >&2; exit 1; }
command -v taskset >/dev/null || { echo "taskset is needed (util-linux)" >&2; exit 1; }
(($(nproc) >= 2)) || { echo "two cores are needed" >&2; exit 1; }

work=$(mktemp -d)
competitor=
stopCompetitor() {
    if [[ -n $competitor ]]; then
        kill "$competitor" 2>/dev/null || true
        wait "$competitor" 2>/dev/null || true
        competitor=
    fi
}
trap 'stopCompetitor; rm -rf "$work"' EXIT
sox -q -n -r 44100 -b 16 -c 1 "$work/carrier.wav" synth 300 sawtooth 110 sawtooth 165 gain -6
sox -q -n -r 44100 -b 16 -c 1 "$work/modulator.wav" synth 300 pinknoise tremolo 3 90 gain -3

programs=("$cli")
[[ -n ${OTHER_CLI:-} ]] && programs+=("$OTHER_CLI")
ways=("one" "own" "one-busy" "own-busy")

median() { printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"; }

echo "lumivox-cli, 300 s of 16-bit 44.1 kHz mono, $runs runs each, $(nproc) cores," \
    "vector unit ${LUMIVOX_VECTOR_UNIT:-widest}, competitor ${COMPETITOR:-unpinned}, load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for setting in "0 0" "50 30" "100 0"; do
    read -r vagueness clearance <<<"$setting"
    declare -A times=()
    for ((i = 0; i < runs; i++)); do
        for way in "${ways[@]}"; do
            if [[ $way == *busy ]]; then
                if [[ ${COMPETITOR:-unpinned} == pinned ]]; then
                    taskset -c 1 sha256sum /dev/zero >/dev/null &
                else
                    bash -c 'while :; do :; done' &
                fi
                competitor=$!
            fi
            pin=()
            [[ $way == one* ]] && pin=(taskset -c 0)
            for p in "${!programs[@]}"; do
                "${pin[@]}" /usr/bin/time -f "%e" -o "$work/time" "${programs[$p]}" --quiet \
                    --vagueness "$vagueness" --clearance "$clearance" \
                    "$work/carrier.wav" "$work/modulator.wav" "$work/out-$p-$way.wav"
                times[$p,$way]+="$(cat "$work/time") "
                cmp -s "$work/out-0-one.wav" "$work/out-$p-$way.wav" ||
                    { echo "outputs differ: program $p, $way" >&2; exit 1; }
            done
            stopCompetitor
        done
    done
    for p in "${!programs[@]}"; do
        line="vagueness $vagueness, clearance $clearance, ${programs[$p]}:"
        for way in "${ways[@]}"; do
            # The ratio is one thread's time over this way's, quiet and busy apart.
            base=one
            [[ $way == *busy ]] && base="one-busy"
            # shellcheck disable=SC2086
            one=$(median ${times[$p,$base]})
            # shellcheck disable=SC2086
            m=$(median ${times[$p,$way]})
            line+=" $way ${m} s ($(awk -v o="$one" -v m="$m" 'BEGIN { printf "%.2f", o / m }')x)"
        done
        echo "$line"
    done
    unset times
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
