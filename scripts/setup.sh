#!/usr/bin/env bash
# Installs the Debian packages Lumivox needs, only those that are missing, so a second run is quick.
#   scripts/setup.sh build   what building and running the program needs
#   scripts/setup.sh test    that, plus what the test suite needs
set -euo pipefail

build_packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev
    qt6-base-dev portaudio19-dev libsndfile1-dev libsoxr-dev fonts-dejavu-core dpkg-dev file lv2-dev
    libjack-jackd2-dev)
test_packages=(sox e2fsprogs mount espeak-ng xvfb xauth xdotool inotify-tools imagemagick jackd2 jack-tools libasound2-plugins clang libclang-rt-14-dev llvm
    desktop-file-utils appstream lintian man-db debootstrap x11-utils bc flac lame opus-tools sndfile-programs
    lilv-utils jalv)

wanted=("${build_packages[@]}")
if [[ "${1:-build}" == test ]]; then
    wanted+=("${test_packages[@]}")
fi

missing=()
for package in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -ne 0 ]]; then
    echo "setup: these Debian packages are missing; run as root to install them: ${missing[*]}" >&2
    exit 1
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
