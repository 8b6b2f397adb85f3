#!/usr/bin/env bash
# Installs what is missing, builds, and starts Lumivox.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build
scripts/build.sh
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "No display found: the Lumivox window needs one. Without a display, use build/lumivox-cli (build/lumivox-cli --help)." >&2
    exit 1
fi
exec build/lumivox
