# Sourced by the live benches: a work folder removed on exit with every process listed in pids,
# and a JACK dummy server of the bench's own at 48 kHz and PERIOD frames.
#   source jack_dummy_server.sh SERVER_NAME
# One name each bench: a server that fails to clean up its slot in JACK's registry of eight is
# replaced by the next run's rather than left to fill it.
export JACK_DEFAULT_SERVER=$1 JACK_NO_AUDIO_RESERVATION=1 JACK_NO_START_SERVER=1
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# Two servers starting at the same moment (a test's, say) can meet in JACK's shared registry and
# one of them gives up: start again, a little later each time.
start_jack_server() {
    local attempt
    for attempt in 1 2 3 4; do
        jackd --no-realtime -d dummy -r 48000 -p "$period" >"$work/jackd.log" 2>&1 &
        server=$!
        jack_wait -w -t 10 >/dev/null 2>&1 && break
        kill "$server" 2>/dev/null || true
        wait "$server" 2>/dev/null || true
        ((attempt < 4)) || { echo "jackd did not start:" >&2; cat "$work/jackd.log" >&2; exit 1; }
        sleep "$attempt"
    done
    pids+=("$server")
}
