# Sourced by the real-window test scripts. Re-runs the calling script inside a virtual X server of
# the given screen size (skipping, with ctest's code 77, when a tool is missing), then sets
# lumivox, probe and artifacts from the script's arguments LUMIVOX WINDOW_PROBE ARTIFACT_DIR.
#   source in_virtual_display.sh SCREEN "TOOL ..." "$@"
screen=$1
tools=$2
shift 2
if [[ "${1:-}" != --inside ]]; then
    for tool in xvfb-run xauth xdotool $tools; do
        if ! command -v "$tool" >/dev/null; then
            echo "skipped: $tool is not installed (scripts/setup.sh test installs it)"
            exit 77
        fi
    done
    exec xvfb-run -a -s "-screen 0 $screen" "$0" --inside "$@"
fi
shift
lumivox=$1
probe=$2
artifacts=$3
mkdir -p "$artifacts"
export QT_QPA_PLATFORM=xcb
# A single-instance name of this run's own: a Lumivox window open elsewhere on the computer, or
# another run of these tests, must not keep the program from starting.
export LUMIVOX_INSTANCE_NAME="LumivoxTest-$$-$RANDOM"
