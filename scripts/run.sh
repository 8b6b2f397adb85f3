#!/usr/bin/env bash
# Installs what is missing, builds the window and lumivox-cli (not the tests and benchmarks,
# which scripts/test.sh builds into the same build/ folder), and starts Lumivox.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build
scripts/build.sh --target lumivox lumivox-cli
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "No display found: the Lumivox window needs one. Without a display, use build/lumivox-cli (build/lumivox-cli --help)." >&2
    exit 1
fi
exec build/lumivox
