#!/usr/bin/env bash
# Fuzzes the wave reader for the given number of seconds (default 60) with libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer. Exits non-zero on any finding; the crashing input is kept in
# build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DLUMIVOX_FUZZ=ON -DLUMIVOX_BUILD_APP=OFF -DLUMIVOX_BUILD_TESTS=OFF -DLUMIVOX_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz --target lumivox_wave_reader_fuzzer -j 2

# The committed seeds stay as they are; the fuzzer grows a working copy.
work=build-fuzz/corpus
findings=build-fuzz/findings
rm -rf "$work"
mkdir -p "$work" "$findings"
cp fuzz/corpus/* "$work"/

export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:quarantine_size_mb=64"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
if ! build-fuzz/lumivox_wave_reader_fuzzer -max_total_time="$seconds" -max_len=70000 -timeout=10 \
    -rss_limit_mb=1024 -artifact_prefix="$findings/" -print_final_stats=1 "$work" 2>build-fuzz/fuzz.log; then
    tail -n 60 build-fuzz/fuzz.log >&2
    echo "fuzz: the wave reader failed; inputs kept in $findings/" >&2
    exit 1
fi
grep -E "^(stat::number_of_executed_units|stat::peak_rss_mb)|^Done" build-fuzz/fuzz.log || true
echo "fuzz: no findings in ${seconds} s"
