#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite: the unit and end-to-end tests,
# the checks of what is installed and of the Debian package, the non-GUI tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer, the threaded tests under ThreadSanitizer, and a
# short fuzzing run of the wave reader.
set -euo pipefail
cd "$(dirname "$0")/.."
# Each stage's wall time, so that a slow one shows in the log.
stage() {
    local started=$SECONDS
    "$@"
    echo "test.sh: '$*' took $((SECONDS - started)) s"
}
stage scripts/setup.sh test
stage scripts/build.sh
stage ctest --test-dir build --output-on-failure -j 2 --timeout 600
stage scripts/check_install.sh
stage scripts/sanitize.sh
stage scripts/tsan.sh
stage scripts/fuzz.sh 15
echo "test.sh: all stages passed in $SECONDS s"
