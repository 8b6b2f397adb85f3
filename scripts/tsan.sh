#!/usr/bin/env bash
# Builds the tests with ThreadSanitizer into build-tsan/ and runs those labelled tsan: the ones
# that run work on more than one thread.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
    -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" \
    -DLUMIVOX_BUILD_APP=OFF -DLUMIVOX_BUILD_BENCH=OFF >/dev/null

export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"
# Some kernels randomise mappings more than ThreadSanitizer allows; run without the randomisation
# where that is possible.
run=()
if setarch "$(uname -m)" -R true 2>/dev/null; then
    run=(setarch "$(uname -m)" -R)
fi
# The build runs each test program to list its tests, so it needs the same.
"${run[@]}" cmake --build build-tsan -j 2 --target lumivox-threaded-tests

"${run[@]}" ctest --test-dir build-tsan -L tsan --output-on-failure -j 2 --timeout 900
