#!/usr/bin/env bash
# Measures lumivox-cli --live on a JACK dummy server of its own (48 kHz; 128 frames a period unless
# PERIOD is set), on whatever cores the machine has:
#   1. lag: the live output's level against the voice's, both recorded on the server's clock, minus
#      the same measure on the offline vocoding of the same voice (the bands' own delay cancels);
#   2. missed cycles over SECONDS_TO_RUN seconds (default 60), lumivox's against a plain jack-play's
#      beside it (jackd logs "client = NAME was not finished" for each);
#   3. the processor time lumivox used over that run, as a share of one core.
# Usage: bench/live_jack.sh [BUILD_DIR]; LUMIVOX_VECTOR_UNIT pins the vector unit as usual.
set -euo pipefail
build=${1:-build}
seconds=${SECONDS_TO_RUN:-60}
period=${PERIOD:-128}
cli="$build/lumivox-cli"
[[ -x "$cli" ]] || { echo "no $cli: build first" >&2; exit 1; }
for tool in jackd jack_wait jack_lsp jack_connect jack-play jack-record sox python3; do
    command -v "$tool" >/dev/null || { echo "$tool is needed (scripts/setup.sh test)" >&2; exit 1; }
done

source "$(dirname "$0")/jack_dummy_server.sh" lumivox-bench

start_jack_server

# The voice: a second of silence (time to connect), then bursts of a buzzing vowel with sharp
# onsets, three a second.
sox -q -n -r 48000 -b 16 -c 1 "$work/burst.wav" synth 0.15 sawtooth 150 gain -12 pad 0 0.183
sox -q -n -r 48000 -b 16 -c 1 "$work/silence.wav" trim 0 1
sox -q "$work/burst.wav" "$work/burst.wav" "$work/burst.wav" "$work/second.wav"
second_list=()
for ((i = 0; i < 8; i++)); do second_list+=("$work/second.wav"); done
sox -q "$work/silence.wav" "${second_list[@]}" "$work/silence.wav" "$work/voice.wav"
long_list=()
for ((i = 0; i < seconds + 5; i++)); do long_list+=("$work/second.wav"); done
sox -q "$work/silence.wav" "${long_list[@]}" "$work/long-voice.wav"

port_of() { # waits for a client's port and prints its name
    for ((i = 0; i < 200; i++)); do
        name=$(jack_lsp | grep -m1 "^$1" || true)
        [[ -n $name ]] && { echo "$name"; return; }
        sleep 0.05
    done
    echo "no port $1" >&2
    exit 1
}

connect() { # jack_connect, again while its own client's name is still taken by the one before
    for ((i = 0; i < 20; i++)); do
        jack_connect "$1" "$2" 2>/dev/null && return
        sleep 0.2
    done
    echo "cannot connect $1 to $2" >&2
    exit 1
}

start_live() {
    "$cli" --live --no-connect --carrier-sound noise "$@" 2>"$work/live.log" &
    live=$!
    pids+=("$live")
    port_of "lumivox:out" >/dev/null
}
stop_live() {
    kill -INT "$live"
    wait "$live" || { echo "lumivox-cli ended with $?" >&2; cat "$work/live.log" >&2; exit 1; }
}

echo "lumivox-cli --live on a JACK dummy server, 48000 Hz, $period frames a period, $(nproc) cores," \
    "vector unit ${LUMIVOX_VECTOR_UNIT:-widest}, load before: $(cut -d' ' -f1-3 /proc/loadavg)"

# 1. Lag against the offline vocoding of the same voice.
start_live
jack-record -n 2 -b 262144 -t 11 "$work/both.wav" >/dev/null 2>&1 &
recorder=$!
pids+=("$recorder")
in1=$(port_of "jack-record-$recorder:in_1")
connect lumivox:out "jack-record-$recorder:in_2"
jack-play "$work/voice.wav" >/dev/null 2>&1 &
player=$!
pids+=("$player")
out1=$(port_of "jack-play-$player:out_1")
connect "$out1" lumivox:voice
connect "$out1" "$in1"
wait "$player"
wait "$recorder"
stop_live
grep 'bands delay' "$work/live.log" | sed 's/^/  /'
"$cli" --quiet --carrier-sound noise "$work/voice.wav" "$work/offline.wav"
sox -q "$work/both.wav" -t f32 -c 1 "$work/heard-voice.f32" remix 1
sox -q "$work/both.wav" -t f32 -c 1 "$work/heard-out.f32" remix 2
sox -q "$work/voice.wav" -t f32 "$work/voice.f32"
sox -q "$work/offline.wav" -t f32 "$work/offline.f32"
python3 - "$work" <<'PY'
import array, math, sys
work = sys.argv[1]
def load(name):
    a = array.array('f')
    with open(f"{work}/{name}", 'rb') as f:
        a.frombytes(f.read())
    return a
hop = 24  # 0.5 ms
def envelope(x):
    return [math.sqrt(sum(v * v for v in x[i:i + 2 * hop]) / (2 * hop)) for i in range(0, len(x) - 2 * hop, hop)]
def lag(a, b, most=200):
    # the shift of b against a (in hops) at which their levels agree best
    best, at = -2.0, 0
    n = min(len(a), len(b)) - most
    ma = sum(a[:n]) / n
    for k in range(0, most):
        mb = sum(b[k:k + n]) / n
        num = sum((a[i] - ma) * (b[i + k] - mb) for i in range(0, n, 4))
        den = math.sqrt(sum((a[i] - ma) ** 2 for i in range(0, n, 4)) * sum((b[i + k] - mb) ** 2 for i in range(0, n, 4)))
        c = num / den if den else 0.0
        if c > best:
            best, at = c, k
    return at * hop / 48.0, best
live_ms, live_c = lag(envelope(load('heard-voice.f32')), envelope(load('heard-out.f32')))
off_ms, off_c = lag(envelope(load('voice.f32')), envelope(load('offline.f32')))
print(f"  level lag, live: {live_ms:.1f} ms (correlation {live_c:.3f}); offline: {off_ms:.1f} ms "
      f"(correlation {off_c:.3f}); added by running live: {live_ms - off_ms:.1f} ms "
      f"(in steps of 0.5 ms)")
PY

# 2 and 3. Missed cycles and processor time over a long run, beside a plain player. The two run
# side by side in the server's graph, each fed by the driver alone (lumivox's voice from the
# dummy capture port, the player's sound to the playback port), so that neither waits for the
# other and each one's late cycles are its own. The engine's work does not depend on what the
# voice holds.
: >"$work/jackd.log.mark"
lines_before=$(wc -l <"$work/jackd.log")
start_live
jack-play "$work/long-voice.wav" >/dev/null 2>&1 &
player=$!
pids+=("$player")
out1=$(port_of "jack-play-$player:out_1")
connect system:capture_1 lumivox:voice
connect "$out1" system:playback_1
ticks=$(getconf CLK_TCK)
cpu_before=$(awk '{print $14 + $15}' "/proc/$live/stat")
start=$(date +%s.%N)
sleep "$seconds"
cpu_after=$(awk '{print $14 + $15}' "/proc/$live/stat")
end=$(date +%s.%N)
stop_live
kill "$player" 2>/dev/null || true
wait "$player" 2>/dev/null || true
tail -n +"$((lines_before + 1))" "$work/jackd.log" >"$work/run.log"
missed_live=$(grep -c "client = lumivox was not finished" "$work/run.log" || true)
missed_play=$(grep -c "client = jack-play-$player was not finished" "$work/run.log" || true)
echo "  over $seconds s: lumivox missed $missed_live cycles, jack-play beside it $missed_play;" \
    "lumivox used $(echo "scale=1; 100 * ($cpu_after - $cpu_before) / $ticks / ($end - $start)" | bc) %" \
    "of one core (its status line: $(grep -c 'missed cycles' "$work/live.log") lines)"
