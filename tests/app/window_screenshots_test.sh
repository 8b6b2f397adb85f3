#!/usr/bin/env bash
# Drives the real program in a virtual X server through the states the status line and the band
# meters must show, keeping a screenshot of each as an artefact:
#   lumivox-idle.png        just started
#   lumivox-carrier-chord.png, lumivox-carrier-noise.png, lumivox-carrier-follow.png
#                           each built-in carrier chosen (the idle shot has "File"); the choice
#                           must be kept in the settings
#   lumivox-follow-preview.png
#                           mid-Preview with "Follow the voice" and no carrier file
#   lumivox-preview.png     mid-Preview on a capturing ALSA device (the meters must be lit)
#   lumivox-cancelled.png   after a Vocode cancelled with Esc
#   lumivox-finished.png    after a finished Vocode whose output clipped
#   lumivox-1300x900.png    the same window stretched to 1300×900
#   lumivox-scale2.png      the same finished run at QT_SCALE_FACTOR=2 on a 1400×1000 screen,
#                           driven by keys alone; the whole window must fit the screen
#   window_screenshots_test.sh LUMIVOX WINDOW_PROBE ARTIFACT_DIR
set -euo pipefail

source "$(dirname "$0")/in_virtual_display.sh" 1400x1000x24 "import convert sox" "$@"

work=$(mktemp -d)
pid=
stop_program() {
    if [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null; then
        kill "$pid"
        wait "$pid" 2>/dev/null || true
    fi
    pid=
}
cleanup() {
    stop_program
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAILED: $*" >&2
    exit 1
}

# Settings of its own, and a default audio device that writes what it plays into a file.
export XDG_CONFIG_HOME="$work/config"
cat >"$work/alsa.conf" <<CONF
pcm.!default {
    type file
    slave { pcm { type null } }
    file "$work/captured.raw"
    format "raw"
}
CONF
export ALSA_CONFIG_PATH="$work/alsa.conf"

# Long inputs so that a run lasts a few seconds even on a device that is not paced; pink noise
# as the modulator lights every band. Short loud ones for a finished run that clips.
sox -q -n -r 22050 -b 16 -c 1 "$work/long carrier.wav" synth 900 sawtooth 110 sawtooth 165 gain -6
sox -q -n -r 22050 -b 16 -c 1 "$work/long voice.wav" synth 900 pinknoise tremolo 3 90 gain -3
sox -q -n -r 22050 -b 16 -c 1 "$work/loud carrier.wav" synth 2 square 110 square 220 gain -1
sox -q -n -r 22050 -b 16 -c 1 "$work/loud voice.wav" synth 2 square 300 gain -1

start_program() {
    "$lumivox" >"$work/stdout" 2>"$work/stderr" &
    pid=$!
    window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Lumivox$' | head -n 1) ||
        fail "no window titled Lumivox appeared"
    sleep 0.5
}
window_size() {
    xdotool getwindowgeometry "$window" | awk '/Geometry:/ { print $2 }'
}
shoot() {
    import -window "$window" "$artifacts/$1"
    echo "screenshot: $artifacts/$1"
}
click() {
    local x y
    read -r x y <<<"${centre[$1]}"
    xdotool mousemove --window "$window" "$x" "$y" click 1
    sleep 0.2
}
fill() { # control id, text: replaces the box's text
    click "$1"
    xdotool key ctrl+a BackSpace
    xdotool type --delay 2 "$2"
}
# Waits until the wave file's RIFF size is patched: the writer has closed it.
wait_closed() {
    for _ in $(seq 1 600); do
        if [[ -f "$1" ]] && (($(stat -c %s "$1") >= 46)) &&
            [[ $(od -An -tu4 -j4 -N4 "$1" | tr -d ' ') -eq $(($(stat -c %s "$1") - 8)) ]]; then
            return 0
        fi
        sleep 0.1
    done
    fail "$1 was not finished"
}

declare -A centre
while read -r id x y; do
    centre[$id]="$x $y"
done < <("$probe")

# The meters' lit pixels in a screenshot: nothing else in these windows is drawn in the meters'
# colours. (A crop by the probe's panel would miss most of it: the probe's window is not the
# shown one's size, so its panel covered only the top of the real one, where only the loudest
# bars reach.)
lit_pixels() {
    convert "$artifacts/$1" -format %c histogram:info:- |
        awk '/#3CC850|#E6C832|#E6463C/ { sum += $1 } END { print sum + 0 }'
}

start_program
shoot lumivox-idle.png
lit=$(lit_pixels lumivox-idle.png)
((lit == 0)) || fail "the idle window shows $lit pixels in the meters' colours"

# Each built-in carrier, chosen from the drop-down with the keys; the last one is kept.
for sound in chord noise follow; do
    click 18
    xdotool key Down Return
    sleep 0.3
    shoot "lumivox-carrier-$sound.png"
done
grep -qx 'kind=3' "$XDG_CONFIG_HOME/Lumivox/lumivox.conf" ||
    fail "the carrier choice was not kept: $(cat "$XDG_CONFIG_HOME/Lumivox/lumivox.conf")"

# A voice alone is enough: Preview with the sound following it, no carrier file named.
fill 4 "$work/long voice.wav"
click 16
sleep 1.5
shoot lumivox-follow-preview.png
lit=$(lit_pixels lumivox-follow-preview.png)
echo "lit meter pixels mid-Preview following the voice: $lit"
((lit > 500)) || fail "the meters are not lit during a preview following the voice ($lit lit pixels)"
xdotool key Escape
sleep 1
[[ -s "$work/captured.raw" ]] || fail "the preview following the voice played nothing"
[[ ! -s "$work/stderr" ]] || fail "the program printed: $(cat "$work/stderr")"
click 18
xdotool key Up Up Up Return
sleep 0.3

# Mid-Preview: the meters are lit by what is heard.
fill 1 "$work/long carrier.wav"
fill 4 "$work/long voice.wav"
click 16
sleep 1.5
shoot lumivox-preview.png
lit=$(lit_pixels lumivox-preview.png)
echo "lit meter pixels mid-Preview: $lit"
((lit > 500)) || fail "the meters are not lit during a preview ($lit lit pixels)"
xdotool key Escape
sleep 1
[[ -s "$work/captured.raw" ]] || fail "the preview played nothing"

# A Vocode cancelled with Esc. On two cores a quarter of an hour of audio takes about a second at
# the default settings: full Vagueness slows the run, and Esc goes as soon as the run writes.
fill 7 "$work/cancelled.wav"
click 12
xdotool key End
click 15
for _ in $(seq 1 500); do
    [[ -f "$work/cancelled.wav" ]] && (($(stat -c %s "$work/cancelled.wav") > 46)) && break
    sleep 0.01
done
xdotool key Escape
wait_closed "$work/cancelled.wav"
sleep 0.5
shoot lumivox-cancelled.png
size=$(stat -c %s "$work/cancelled.wav")
((size < 46 + 900 * 22050 * 2)) || fail "Esc did not cancel the run ($size bytes)"
click 12
xdotool key Home

# A finished Vocode that clipped.
fill 1 "$work/loud carrier.wav"
fill 4 "$work/loud voice.wav"
fill 7 "$work/finished.wav"
click 15
wait_closed "$work/finished.wav"
sleep 1
shoot lumivox-finished.png
kill -0 "$pid" 2>/dev/null || fail "the program ended on its own"
[[ ! -s "$work/stderr" ]] || fail "the program printed: $(cat "$work/stderr")"

# Stretched: the boxes, the sliders and the meters take the room.
xdotool windowsize "$window" 1300 900
sleep 1
[[ $(window_size) == 1300x900 ]] || fail "the window did not stretch to 1300x900 ($(window_size))"
shoot lumivox-1300x900.png
stop_program

# Twice the size, driven by keys alone: the carrier box has the focus at the start, Tab passes
# each Browse button (and after the carrier's, its repeat box and the Bands choice) and Enter
# presses Vocode. The whole window fits the screen, every control
# inside it, even at its least size. Settings of its own: the size kept from the 1300×900 window
# is not what this run checks.
export XDG_CONFIG_HOME="$work/config-scale2"
QT_SCALE_FACTOR=2 start_program
read -r least_w least_h < <(QT_SCALE_FACTOR=2 "$probe" --least-size)
((2 * least_w <= 1400 && 2 * least_h <= 1000)) ||
    fail "at twice the size the least window, ${least_w}x${least_h}, does not fit 1400x1000"
IFS=x read -r shown_w shown_h <<<"$(window_size)"
((shown_w <= 1400 && shown_h <= 1000)) || fail "at twice the size the window is ${shown_w}x${shown_h}"
while read -r id x y; do
    ((2 * x < shown_w && 2 * y < shown_h)) ||
        fail "at twice the size control $id (centre $((2 * x)),$((2 * y))) is outside the window"
done < <(QT_SCALE_FACTOR=2 "$probe")
xdotool type --delay 2 "$work/loud carrier.wav"
xdotool key Tab Tab Tab Tab
xdotool type --delay 2 "$work/loud voice.wav"
xdotool key Tab Tab
xdotool type --delay 2 "$work/scaled.wav"
xdotool key Return
wait_closed "$work/scaled.wav"
sleep 1
shoot lumivox-scale2.png
stop_program
echo "passed"
