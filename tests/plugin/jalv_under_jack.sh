#!/usr/bin/env bash
# jalv runs the plugin as a JACK client under a JACK server of this test's own (the dummy driver,
# so no sound card is needed): its three audio ports appear under the client's name, and the
# voice can be connected to the side-chain input. Then jalv.gtk3 shows the plugin's controls on a
# virtual X display of its own, without a complaint from GTK, and a screenshot of that window is
# left in ARTIFACTS as lumivox-lv2-jalv.png.
#   jalv_under_jack.sh LV2_BUNDLE_PARENT ARTIFACTS
set -euo pipefail
bundles=$1
artifacts=$2
uri=http://lumivox.org/plugins/vocoder
work=$(mktemp -d)
# A server name from the pool the other JACK tests share (see tests/support/jack_server_name.h),
# held with its lock file for the whole run: JACK's registry keeps a slot for every server name,
# and a server that fails to clean up is replaced by the next of the same name.
server_name=
until [[ -n $server_name ]]; do
    for index in 0 1 2 3; do
        exec {name_lock}>>"/tmp/lumivox-test-jack-$index.lock"
        chmod 0666 "/tmp/lumivox-test-jack-$index.lock" 2>/dev/null || true
        if flock -n "$name_lock"; then
            server_name=lumivox-test-$index
            break
        fi
        exec {name_lock}>&-
    done
    [[ -n $server_name ]] || sleep 0.1
done
export JACK_DEFAULT_SERVER=$server_name
export JACK_NO_AUDIO_RESERVATION=1
export LV2_PATH=$bundles:/usr/lib/lv2
jackd_pid=
jalv_pid=
xvfb_pid=
cleanup() {
    for pid in $jalv_pid $jackd_pid $xvfb_pid; do
        if kill -0 "$pid" 2>/dev/null; then
            kill "$pid"
            wait "$pid" 2>/dev/null || true
        fi
    done
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "jalv_under_jack: FAILED: $*" >&2
    echo "--- jackd:" >&2
    cat "$work/jackd.log" >&2 || true
    echo "--- jalv:" >&2
    cat "$work/jalv.log" >&2 || true
    exit 1
}
# Waits up to 30 s for a command to succeed.
await() {
    for _ in $(seq 1 300); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}

jackd --no-realtime -d dummy -r 48000 -p 128 >"$work/jackd.log" 2>&1 &
jackd_pid=$!
await jack_lsp system:playback_1 || fail "jackd did not start"

client=lumivox-test
# jalv reads commands from its standard input and quits at its end: keep that open.
mkfifo "$work/commands"
jalv -x -n "$client" "$uri" <"$work/commands" >"$work/jalv.log" 2>&1 &
jalv_pid=$!
exec 3>"$work/commands"
has_ports() {
    local ports
    ports=$(jack_lsp "$client")
    grep -qx "$client:carrier" <<<"$ports" && grep -qx "$client:modulator" <<<"$ports" &&
        grep -qx "$client:out" <<<"$ports"
}
await has_ports || fail "jalv did not show the ports carrier, modulator and out"
jack_connect system:capture_1 "$client:carrier" || fail "could not connect the carrier"
jack_connect system:capture_2 "$client:modulator" || fail "could not connect the modulator"
jack_connect "$client:out" system:playback_1 || fail "could not connect the output"
kill -0 "$jalv_pid" || fail "jalv ended"
echo "jalv_under_jack: $(jack_lsp "$client" | tr '\n' ' ')"
# Closing its standard input ends jalv.
exec 3>&-
for _ in $(seq 1 100); do
    kill -0 "$jalv_pid" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$jalv_pid" 2>/dev/null; then
    fail "jalv did not end when its input closed"
fi
wait "$jalv_pid" || fail "jalv ended with status $?"
jalv_pid=

# The controls in jalv's own window, on a display no one else uses.
Xvfb -displayfd 4 -screen 0 1024x768x24 -nolisten tcp 4>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
await test -s "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=:$(cat "$work/display")
mkfifo "$work/window-commands"
jalv.gtk3 -x -n "$client" "$uri" <"$work/window-commands" >"$work/jalv.log" 2>&1 &
jalv_pid=$!
exec 3>"$work/window-commands"
window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Lumivox Vocoder$' | head -n 1) ||
    fail "jalv.gtk3 showed no window titled Lumivox Vocoder"
await has_ports || fail "jalv.gtk3 did not show the ports"
mkdir -p "$artifacts"
shot="$artifacts/lumivox-lv2-jalv.png"
import -window "$window" "$shot" || fail "no screenshot of the window"
size=$(identify -format '%w %h' "$shot")
echo "jalv_under_jack: $shot, $size pixels"
read -r width height <<<"$size"
((width >= 300 && height >= 150)) || fail "the window is only $size pixels"
if grep -E "CRITICAL|WARNING" "$work/jalv.log"; then
    fail "GTK complained about the plugin's controls"
fi
exec 3>&-
echo "jalv_under_jack: passed"
