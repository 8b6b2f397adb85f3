#!/usr/bin/env bash
# Drives the real program in a virtual X server: finds its window by title, types the three paths
# into their boxes, clicks Vocode, waits for the output and checks it is a complete mono wave file
# as long as the shorter input. Saves a screenshot of the window as an artefact. Then starts a long
# run and sends SIGTERM: the program must end with 0, leaving a finished, shorter output.
#   real_window_test.sh LUMIVOX WINDOW_PROBE ARTIFACT_DIR
set -euo pipefail

source "$(dirname "$0")/in_virtual_display.sh" 1280x800x24 "import sox" "$@"

work=$(mktemp -d)
export XDG_CONFIG_HOME="$work/config" # settings of its own, not the user's
pid=
cleanup() {
    if [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null; then
        kill "$pid"
        wait "$pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAILED: $*" >&2
    exit 1
}

inputs="$work/in files"
mkdir -p "$inputs"
carrier="$inputs/carrier chord.wav"
modulator="$inputs/voice.wav"
output="$work/vocoded.wav"
sox -n -r 22050 -b 16 -c 1 "$carrier" synth 1.5 sawtooth 110 sawtooth 165 remix - gain -6
sox -n -r 22050 -b 16 -c 1 "$modulator" synth 1 sine 300 tremolo 4 90
expected_data_bytes=$((22050 * 2)) # the modulator's one second, 16-bit mono

"$lumivox" >"$work/stdout" 2>"$work/stderr" &
pid=$!
window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Lumivox$' | head -n 1) ||
    fail "no window titled Lumivox appeared"
echo "window $window"

declare -A centre
while read -r id x y; do
    centre[$id]="$x $y"
done < <("$probe")

click() {
    local x y
    read -r x y <<<"${centre[$1]}"
    xdotool mousemove --window "$window" "$x" "$y" click 1
    sleep 0.2
}
click 1
xdotool type --delay 5 "$carrier"
click 4
xdotool type --delay 5 "$modulator"
click 7
xdotool type --delay 5 "$output"
click 15

wanted_size=$((46 + expected_data_bytes))
for _ in $(seq 1 300); do
    if [[ -f "$output" ]] && [[ $(stat -c %s "$output") -eq $wanted_size ]] &&
        [[ $(od -An -tu4 -j4 -N4 "$output" | tr -d ' ') -eq $((wanted_size - 8)) ]]; then
        break
    fi
    sleep 0.1
done
[[ -f "$output" ]] || fail "the output file did not appear"
size=$(stat -c %s "$output")
[[ $size -eq $wanted_size ]] || fail "the output holds $size bytes, not $wanted_size"
[[ $(head -c 4 "$output") == RIFF ]] || fail "the output does not start with RIFF"
[[ $(od -An -tu4 -j4 -N4 "$output" | tr -d ' ') -eq $((size - 8)) ]] || fail "RIFF size not patched"
[[ $(od -An -tu4 -j42 -N4 "$output" | tr -d ' ') -eq $expected_data_bytes ]] || fail "data size wrong"
[[ $(sox --i -c "$output") -eq 1 ]] || fail "the output is not mono"
[[ $(sox --i -r "$output") -eq 22050 ]] || fail "the output has another rate"
[[ $(sox --i -s "$output") -eq 22050 ]] || fail "the output has another length"

sleep 0.5 # let the restored controls and the full progress bar paint
import -window "$window" "$artifacts/lumivox-window.png"
echo "screenshot: $artifacts/lumivox-window.png"

kill -0 "$pid" 2>/dev/null || fail "the program ended on its own"
[[ ! -s "$work/stdout" && ! -s "$work/stderr" ]] ||
    fail "the program printed: $(cat "$work/stdout" "$work/stderr")"

# SIGTERM during a long run (10 minutes of audio): the output is finished and the program ends.
long_carrier="$inputs/long carrier.wav"
long_modulator="$inputs/long voice.wav"
stopped="$work/stopped.wav"
sox -n -r 22050 -b 16 -c 1 "$long_carrier" synth 600 sawtooth 110 gain -6
sox -n -r 22050 -b 16 -c 1 "$long_modulator" synth 600 sine 300 tremolo 4 90
replace() { # control id, text
    click "$1"
    xdotool key ctrl+a
    xdotool type --delay 5 "$2"
}
replace 1 "$long_carrier"
replace 4 "$long_modulator"
replace 7 "$stopped"
click 15
for _ in $(seq 1 300); do
    [[ -f "$stopped" ]] && [[ $(stat -c %s "$stopped") -gt 1000000 ]] && break
    sleep 0.05
done
[[ -f "$stopped" ]] || fail "the long run did not start"
kill -TERM "$pid"
status=0
timeout 20 tail --pid="$pid" -f /dev/null || fail "the program did not end after SIGTERM"
wait "$pid" || status=$?
pid=
[[ $status -eq 0 ]] || fail "the program ended with $status after SIGTERM"
size=$(stat -c %s "$stopped")
[[ $(od -An -tu4 -j4 -N4 "$stopped" | tr -d ' ') -eq $((size - 8)) ]] ||
    fail "the stopped output's RIFF size is not patched"
[[ $(od -An -tu4 -j42 -N4 "$stopped" | tr -d ' ') -eq $((size - 46)) ]] ||
    fail "the stopped output's data size is not patched"
samples=$(sox --i -s "$stopped")
((samples > 0 && samples < 600 * 22050)) || fail "the stopped output holds $samples samples"
echo "passed"
