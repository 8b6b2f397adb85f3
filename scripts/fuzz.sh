#!/usr/bin/env bash
# Fuzzes the wave reader and the sound-file reader (with the resampler behind it) side by side for
# the given number of seconds (default 60) with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer. Exits non-zero on any finding; the crashing input is kept in
# build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DLUMIVOX_FUZZ=ON -DLUMIVOX_BUILD_APP=OFF -DLUMIVOX_BUILD_TESTS=OFF -DLUMIVOX_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz --target lumivox_wave_reader_fuzzer lumivox_sound_file_fuzzer -j 2

export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:quarantine_size_mb=64"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
findings=build-fuzz/findings
mkdir -p "$findings"

# fuzz NAME SEEDS: runs build-fuzz/lumivox_NAME_fuzzer on a working copy of the committed seeds.
fuzz() {
    local name=$1 seeds=$2
    local work=build-fuzz/corpus-$name log=build-fuzz/fuzz-$name.log
    rm -rf "$work"
    mkdir -p "$work"
    cp "$seeds"/* "$work"/
    if ! "build-fuzz/lumivox_${name}_fuzzer" -max_total_time="$seconds" -max_len=70000 -timeout=10 \
        -rss_limit_mb=1024 -artifact_prefix="$findings/$name-" -print_final_stats=1 "$work" 2>"$log"; then
        tail -n 60 "$log" >&2
        echo "fuzz: the $name fuzzer failed; inputs kept in $findings/" >&2
        exit 1
    fi
    grep -E "^(stat::number_of_executed_units|stat::peak_rss_mb)|^Done" "$log" || true
}

# The two fuzzers run side by side, one on each core.
fuzz wave_reader fuzz/corpus &
wave_reader=$!
fuzz sound_file fuzz/sound_corpus &
sound_file=$!
status=0
wait "$wave_reader" || status=1
wait "$sound_file" || status=1
[[ $status -eq 0 ]] || exit 1
echo "fuzz: no findings in ${seconds} s per fuzzer"
