#!/usr/bin/env bash
# Times a Vocode through the real window (in a virtual X server, with the band meters running)
# against lumivox-cli on the same 300 s of 16-bit 44.1 kHz mono, alternating the two, and then
# measures the window's CPU use while it previews 30 s in real time on JACK's dummy driver.
#   bench/window_vs_cli.sh [BUILD_DIR] [RUNS]
# Needs sox, xvfb-run, xdotool, inotify-tools, imagemagick and, for the preview, jackd (scripts/setup.sh test).
# Leaves a screenshot taken halfway through the preview in BUILD_DIR/artifacts.
set -euo pipefail

if [[ "${1:-}" != --inside ]]; then
    exec xvfb-run -a -s "-screen 0 1600x1200x24" "$0" --inside "$@"
fi
shift
build=$(realpath "${1:-build}")
runs=${2:-5}
lumivox="$build/lumivox"
cli="$build/lumivox-cli"
probe="$build/lumivox_window_probe"
for program in "$lumivox" "$cli" "$probe"; do
    [[ -x "$program" ]] || { echo "no $program: build first" >&2; exit 1; }
done
export QT_QPA_PLATFORM=xcb

work=$(mktemp -d)
export XDG_CONFIG_HOME="$work/config"
pid=
jack=
cleanup() {
    [[ -n "$pid" ]] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    [[ -n "$jack" ]] && kill "$jack" 2>/dev/null && wait "$jack" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

sox -q -n -r 44100 -b 16 -c 1 "$work/carrier.wav" synth 300 sawtooth 110 sawtooth 165 gain -6
sox -q -n -r 44100 -b 16 -c 1 "$work/modulator.wav" synth 300 pinknoise tremolo 3 90 gain -3
sox -q "$work/carrier.wav" "$work/carrier30.wav" trim 0 30
sox -q "$work/modulator.wav" "$work/modulator30.wav" trim 0 30
wanted=$((46 + 300 * 44100 * 2))

declare -A centre
while read -r id x y; do centre[$id]="$x $y"; done < <("$probe")
click() {
    local x y
    read -r x y <<<"${centre[$1]}"
    xdotool mousemove --window "$window" "$x" "$y" click 1
}
fill() {
    click "$1"
    xdotool key ctrl+a BackSpace
    xdotool type --delay 1 "$2"
}
start_window() {
    "$lumivox" >/dev/null 2>&1 &
    pid=$!
    window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Lumivox$' | head -n 1)
    sleep 0.5
}
# CPU seconds (user + system) the process has used so far.
cpu_seconds() {
    awk -v tick="$(getconf CLK_TCK)" '{ printf "%.2f\n", ($14 + $15) / tick }' "/proc/$1/stat"
}
median() { printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"; }
least() { printf '%s\n' "$@" | sort -n | head -n 1; }

# The meters need an audio device only for Preview; a silent one keeps PortAudio quiet.
printf 'pcm.!default { type null }\n' >"$work/null.conf"
export ALSA_CONFIG_PATH="$work/null.conf"
start_window
fill 1 "$work/carrier.wav"
fill 4 "$work/modulator.wav"
fill 7 "$work/window.wav"

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
window_times=()
cli_times=()
gui_cpu=() # the window's own thread: events, progress, status line, meters
x_cpu=() # the X server drawing what the window paints
xserver=$(pgrep -n -x Xvfb)
for ((i = 0; i < runs; i++)); do
    rm -f "$work/window.wav"
    # The run ends when the window closes its output; waiting for that event takes no CPU from
    # the run, where polling the file would.
    inotifywait -q -q -e close_write --include '/window\.wav$' "$work" &
    watcher=$!
    sleep 0.3 # the watch is in place
    gui_before=$(cpu_seconds "$pid/task/$pid")
    x_before=$(cpu_seconds "$xserver")
    start=$(date +%s.%N)
    click 15
    wait "$watcher"
    end=$(date +%s.%N)
    gui_cpu+=("$(echo "$(cpu_seconds "$pid/task/$pid") - $gui_before" | bc)")
    x_cpu+=("$(echo "$(cpu_seconds "$xserver") - $x_before" | bc)")
    (($(stat -c %s "$work/window.wav") == wanted)) || { echo "the window's output is short" >&2; exit 1; }
    window_times+=("$(echo "$end - $start" | bc)")
    sleep 0.5 # let the window finish its run-end work before the next measurement

    /usr/bin/time -f %e -o "$work/time" "$cli" --quiet "$work/carrier.wav" "$work/modulator.wav" \
        "$work/cli.wav"
    cli_times+=("$(cat "$work/time")")
done
cmp -s <(tail -c +47 "$work/window.wav") <(tail -c +47 "$work/cli.wav") ||
    echo "warning: the window's output differs from lumivox-cli's"
window_median=$(median "${window_times[@]}")
cli_median=$(median "${cli_times[@]}")
echo "Vocode of 300 s 16-bit 44.1 kHz mono, median of $runs:" \
    "window ${window_median} s (all: ${window_times[*]}), lumivox-cli ${cli_median} s" \
    "(all: ${cli_times[*]}); window / cli = $(echo "scale=3; $window_median / $cli_median" | bc)"
# On a shared machine whose speed wanders from run to run, the fastest run of each is the one
# least disturbed by others.
window_least=$(least "${window_times[@]}")
cli_least=$(least "${cli_times[@]}")
echo "fastest of each: window ${window_least} s, lumivox-cli ${cli_least} s;" \
    "window / cli = $(echo "scale=3; $window_least / $cli_least" | bc)"
echo "CPU taken from the run, median: the window's event thread $(median "${gui_cpu[@]}") s," \
    "the X server $(median "${x_cpu[@]}") s"
kill "$pid"
wait "$pid" 2>/dev/null || true
pid=

if ! command -v jackd >/dev/null; then
    echo "preview: skipped, jackd is not installed"
    exit 0
fi
server=lumivox-bench # one name: a server that fails to clean up is replaced by the next
export JACK_DEFAULT_SERVER=$server JACK_NO_START_SERVER=1
jackd --no-realtime -n "$server" -d dummy -r 44100 -p 1024 >/dev/null 2>&1 &
jack=$!
jack_wait -w -t 5 -s "$server" >/dev/null 2>&1
cat >"$work/jack.conf" <<'CONF'
pcm.!default {
    type plug
    slave.pcm { type jack  playback_ports { 0 system:playback_1 } }
}
CONF
export ALSA_CONFIG_PATH="$work/jack.conf"
start_window
fill 1 "$work/carrier30.wav"
fill 4 "$work/modulator30.wav"
idle_before=$(cpu_seconds "$pid")
sleep 10
idle_cpu=$(echo "$(cpu_seconds "$pid") - $idle_before" | bc)
before=$(cpu_seconds "$pid")
start=$(date +%s.%N)
click 16
# Halfway, a picture shows that it plays ("Previewing… 0:14"); after 31 s it has ended.
sleep 15
mkdir -p "$build/artifacts"
import -window "$window" "$build/artifacts/bench-preview-on-jack.png"
sleep 16
after=$(cpu_seconds "$pid")
wall=$(echo "$(date +%s.%N) - $start" | bc)
echo "Preview of 30 s 16-bit 44.1 kHz on JACK's dummy driver through the window:" \
    "$(echo "$after - $before" | bc) s of CPU in ${wall} s wall" \
    "($(echo "scale=1; 100 * ($after - $before) / $wall" | bc) % of one core);" \
    "the idle window used ${idle_cpu} s of CPU in 10 s"
unit=sse2
grep -qw avx2 /proc/cpuinfo && unit=avx2
grep -qw avx512f /proc/cpuinfo && unit=avx512f
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) cores; widest vector" \
    "unit: $unit"
