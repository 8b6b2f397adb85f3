#!/usr/bin/env bash
# Measures a live run started from the window, on a JACK dummy server of its own (48 kHz, 128
# frames a period unless PERIOD is set) and a virtual X display: the window open with its meters
# moving, the noise carrier, the voice from the dummy capture port, and a plain jack-play beside
# it playing to the playback port, each fed by the driver alone so that neither waits for the
# other. Over SECONDS_TO_RUN seconds (default 60) it counts the cycles each was late for (jackd
# logs "client = NAME was not finished") and the processor time of the whole program (window,
# meters and audio) as a share of one core.
# Usage: bench/live_window.sh [BUILD_DIR]; LUMIVOX_VECTOR_UNIT pins the vector unit as usual.
set -euo pipefail
if [[ "${1:-}" != --inside ]]; then
    for tool in xvfb-run xdotool jackd jack_wait jack_lsp jack_connect jack-play sox; do
        command -v "$tool" >/dev/null || { echo "$tool is needed (scripts/setup.sh test)" >&2; exit 1; }
    done
    exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" --inside "$@"
fi
shift
build=${1:-build}
seconds=${SECONDS_TO_RUN:-60}
period=${PERIOD:-128}
[[ -x "$build/lumivox" && -x "$build/lumivox_window_probe" ]] || { echo "build $build first" >&2; exit 1; }

source "$(dirname "$0")/jack_dummy_server.sh" lumivox-bench-window
export XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb
export LUMIVOX_INSTANCE_NAME="LumivoxBench-$$"

# The window starts with the noise carrier chosen, as a user who chose it last time would find it.
mkdir -p "$XDG_CONFIG_HOME/Lumivox"
printf '[carrier]\nkind=2\n' >"$XDG_CONFIG_HOME/Lumivox/lumivox.conf"

start_jack_server

await_port() {
    for ((i = 0; i < 300; i++)); do
        jack_lsp 2>/dev/null | grep -q "^$1" && return
        sleep 0.1
    done
    echo "no port $1" >&2
    exit 1
}

"$build/lumivox" >"$work/window.log" 2>&1 &
window_pid=$!
pids+=("$window_pid")
window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Lumivox$' | head -n 1)
live_button=29 # the Live button's control id
read -r x y < <("$build/lumivox_window_probe" | awk -v id=$live_button '$1 == id { print $2, $3 }')
xdotool mousemove --window "$window" "$x" "$y" click 1
await_port lumivox:out

sox -q -n -r 48000 -b 16 -c 1 "$work/voice.wav" synth "$((seconds + 5))" sawtooth 150 tremolo 3 90 gain -12
jack-play "$work/voice.wav" >/dev/null 2>&1 &
player=$!
pids+=("$player")
await_port "jack-play-$player:out_1"
jack_connect "jack-play-$player:out_1" system:playback_1

echo "the window's live run on a JACK dummy server, 48000 Hz, $period frames a period, $(nproc) cores," \
    "vector unit ${LUMIVOX_VECTOR_UNIT:-widest}, load before: $(cut -d' ' -f1-3 /proc/loadavg)"
# The window connects its ports once its client runs.
for ((i = 0; i < 100; i++)); do
    [[ $(jack_lsp -c lumivox:out 2>/dev/null | wc -l) -gt 1 ]] && break
    sleep 0.1
done
jack_lsp -c >"$work/ports.txt"; echo "  connections:"; grep -A3 "^lumivox" "$work/ports.txt" | sed "s/^/    /"
lines_before=$(wc -l <"$work/jackd.log")
ticks=$(getconf CLK_TCK)
cpu_before=$(awk '{print $14 + $15}' "/proc/$window_pid/stat")
start=$(date +%s.%N)
sleep "$seconds"
cpu_after=$(awk '{print $14 + $15}' "/proc/$window_pid/stat")
end=$(date +%s.%N)
tail -n +"$((lines_before + 1))" "$work/jackd.log" >"$work/run.log"
missed_live=$(grep -c "client = lumivox was not finished" "$work/run.log" || true)
missed_play=$(grep -c "client = jack-play-$player was not finished" "$work/run.log" || true)
echo "  over $seconds s: lumivox missed $missed_live cycles, jack-play beside it $missed_play;" \
    "the program used $(echo "scale=1; 100 * ($cpu_after - $cpu_before) / $ticks / ($end - $start)" | bc) %" \
    "of one core, window included"
