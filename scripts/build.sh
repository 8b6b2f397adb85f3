#!/usr/bin/env bash
# Configures and builds everything (Release) into build/.
#
# The build takes Debian's hardening flags from dpkg-buildflags (fortified library calls, stack
# protector, format checks, read-only relocations and immediate binding), so the programs and the
# Debian package made from this build are hardened as Debian's own. The optimisation level stays
# CMake's Release one and -ffp-contract=off stays: the audio comes out bit for bit as before.
set -euo pipefail
cd "$(dirname "$0")/.."

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
compile_flags=$(dpkg-buildflags --get CPPFLAGS)
# Every compiler flag but the optimisation level and the debug information.
for flag in $(dpkg-buildflags --get CXXFLAGS); do
    [[ "$flag" =~ ^-(O.?|g[0-9]?)$ ]] || compile_flags+=" $flag"
done
link_flags=$(dpkg-buildflags --get LDFLAGS)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release \
    "-DCMAKE_CXX_FLAGS=$compile_flags" \
    "-DCMAKE_EXE_LINKER_FLAGS=$link_flags" \
    "-DCMAKE_SHARED_LINKER_FLAGS=$link_flags" \
    "-DCMAKE_MODULE_LINKER_FLAGS=$link_flags" >/dev/null
cmake --build build "$@"
