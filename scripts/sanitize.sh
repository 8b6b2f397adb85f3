#!/usr/bin/env bash
# Runs the non-GUI tests once more under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DLUMIVOX_SANITIZE=ON \
    -DLUMIVOX_BUILD_APP=OFF -DLUMIVOX_BUILD_BENCH=OFF >/dev/null
cmake --build build-sanitize -j 2

# Leak checks stay on for our code; only the audio libraries' own allocations are excused
# (scripts/lsan.supp). ALSA allocates from plugins it has unloaded again by the time leaks are
# reported, so those frames have no module name; the slow unwinder records the whole stack, whose
# libasound frames the suppressions can then match. The engine's and the wave reader's tests open
# no audio device and run without it: it records every allocation's whole stack, which made each
# of their programs take a tenth of a second to start, and they are more than half the suite.
asan_options="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# Left out here, run in the plain build: the comparisons of whole recordings bit for bit, minutes of
# arithmetic under the sanitizers whose every memory access the shorter block-path, Clarity and
# adapter tests make too, the 48-band layout's sound measures, whose 16- and 32-band rows run the
# same code, and the longest sound measures and settings sweeps with shorter siblings here.
long_arithmetic='^(engine\.Layouts/BandsOfALayout\.[A-Za-z]+/48 .*|engine\.ChordSound\.VocodesALoudVoiceHarmonicOnItsStrongestPartialBelowFullScale|engine\.Clarity\.BlockPathFollowsClarityMovedBetweenBlocks|job\.BlockAdapters\.Int16WithSlidersMovedEveryBlockMatchesPerSample|engine\.BlockPath\.MatchesProcessSampleBitForBitOnMusicAtEverySetting|engine\.BlockPath\.FollowsParametersChangedBetweenBlocksOverMinutesOfAudio|engine\.Clarity\.BlockPathMatchesProcessSampleBitForBitOnEveryUnit|job\.BlockAdapters\.(UInt8MatchesPerSampleOnRecordingsAndNoise|Int16OnRecordingsMatchesPerSampleAtEverySliderCorner))$'
no_devices='^(engine|wave)\.'
ASAN_OPTIONS="$asan_options:fast_unwind_on_malloc=1" \
    ctest --test-dir build-sanitize --output-on-failure -j 2 --timeout 900 -R "$no_devices" \
    -E "$long_arithmetic"
ASAN_OPTIONS="$asan_options:fast_unwind_on_malloc=0" \
    ctest --test-dir build-sanitize --output-on-failure -j 2 --timeout 900 \
    -E "$long_arithmetic|$no_devices"
