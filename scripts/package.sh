#!/usr/bin/env bash
# Builds the Debian package build/lumivox_1.0.0_<arch>.deb from the Release build in build/ and
# prints its name. Install it with: apt install ./build/lumivox_1.0.0_<arch>.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build
scripts/build.sh
rm -f build/lumivox_*.deb
(cd build && cpack -G DEB >cpack.log 2>&1) || {
    cat build/cpack.log >&2
    exit 1
}
deb=build/lumivox_1.0.0_$(dpkg --print-architecture).deb
[[ -f "$deb" ]] || {
    echo "package: $deb was not made" >&2
    exit 1
}
echo "$deb"
