#!/usr/bin/env bash
# What the LV2 plugin costs a host by block size: lv2bench (lilv-utils) runs the built plugin at the
# sliders' defaults on 10 s of audio in blocks of 1 to 4096 frames, on the widest vector unit and on
# AVX2, runs interleaved so that all see the same load. Reports the median time and the real-time
# factor at 48 kHz (how many times faster than the audio plays).
# Usage: bench/plugin_blocks.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build=$(realpath "${1:-build}")
runs=${2:-5}
[[ -f "$build/lv2/lumivox.lv2/manifest.ttl" ]] || { echo "no $build/lv2/lumivox.lv2: build first" >&2; exit 1; }
command -v lv2bench >/dev/null || { echo "lv2bench is needed (scripts/setup.sh test)" >&2; exit 1; }
export LV2_PATH="$build/lv2:/usr/lib/lv2"
uri=http://lumivox.org/plugins/vocoder
frames=480000

median() { printf '%s\n' "$@" | sort -g | sed -n "$((($# + 1) / 2))p"; }

units=(avx512 avx2)
sizes=(1 16 64 256 1024 4096)
declare -A times
for ((i = 0; i < runs; i++)); do
    for unit in "${units[@]}"; do
        for size in "${sizes[@]}"; do
            # A block of one frame costs the most per frame: a tenth of the audio is enough.
            n=$frames
            [[ $size -lt 16 ]] && n=$((frames / 10))
            seconds=$(LUMIVOX_VECTOR_UNIT=$unit lv2bench -b "$size" -n "$n" "$uri" | awk '{ print $1 }')
            times[$unit.$size]+="$(awk -v s="$seconds" -v n="$n" -v f="$frames" 'BEGIN { print s * f / n }') "
        done
    done
done
printf '%-8s %6s %12s %14s\n' unit block "s per 10 s" "x real time"
for unit in "${units[@]}"; do
    for size in "${sizes[@]}"; do
        # shellcheck disable=SC2086
        m=$(median ${times[$unit.$size]})
        printf '%-8s %6d %12.4f %14.1f\n' "$unit" "$size" "$m" "$(awk -v m="$m" 'BEGIN { print 10 / m }')"
    done
done
