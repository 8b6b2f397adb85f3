#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite: the unit and end-to-end tests,
# the checks of what is installed and of the Debian package, the non-GUI tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer, the threaded tests under ThreadSanitizer, and a
# short fuzzing run of the wave reader.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh test
scripts/build.sh
ctest --test-dir build --output-on-failure -j 2 --timeout 600
scripts/check_install.sh
scripts/sanitize.sh
scripts/tsan.sh
scripts/fuzz.sh 60
