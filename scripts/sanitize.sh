#!/usr/bin/env bash
# Runs the non-GUI tests once more under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMIVOX_SANITIZE=ON \
    -DLUMIVOX_BUILD_APP=OFF -DLUMIVOX_BUILD_BENCH=OFF >/dev/null
cmake --build build-sanitize
ctest --test-dir build-sanitize --output-on-failure -j 2 --timeout 900
