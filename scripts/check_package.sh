#!/usr/bin/env bash
# Installs the Debian package on a clean Debian 12 and uses it there, as a new user would:
#   - a minimal Debian 12 root (debootstrap --variant=minbase, with man-db to read the pages) is
#     made once in build/debian-bookworm and copied afresh for every run, so that
#     `apt-get install ./lumivox_*.deb` must pull in every runtime dependency by itself;
#   - lumivox-cli vocodes the installed examples, the window starts from the menu entry's Exec line
#     on an Xvfb display started out here and shows its title, `man lumivox-cli` works and the
#     completion offers --vagueness after --va;
#   - `apt-get purge lumivox` leaves no file of the package behind.
# Needs root (debootstrap, chroot, mounts) and the network to the Debian archive. Downloaded
# packages are kept in build/debian-archives so later runs are quicker.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS
if [[ $(id -u) -ne 0 ]]; then
    echo "check_package: run as root: it makes a Debian root with debootstrap and mounts into it" >&2
    exit 1
fi
scripts/setup.sh test
deb=$(scripts/package.sh | tail -n 1)
app_id=org.lumivox.lumivox

base=$PWD/build/debian-bookworm
root=$PWD/build/debian-check
archives=$PWD/build/debian-archives
work=$(mktemp -d)
xvfb_pid=
window_pid=

step() { echo "check_package: [$((SECONDS - started)) s] $*"; }
fail() {
    echo "check_package: FAILED: $*" >&2
    exit 1
}
unmount_all() {
    local mount_point
    # Deepest first; a run that was killed may have left mounts behind.
    for mount_point in $(awk -v root="$root" '$2 ~ "^" root "(/|$)" { print $2 }' /proc/mounts | sort -r); do
        umount "$mount_point" || umount -l "$mount_point"
    done
}
# Deletes the working root, but never through a mount that is still there: that would reach
# the folders bound into it from out here.
remove_root() {
    unmount_all
    if grep -q " $root/" /proc/mounts; then
        echo "check_package: $root still has mounts; not deleting it" >&2
        return 1
    fi
    rm -rf "$root"
}
cleanup() {
    for pid in $window_pid $xvfb_pid; do
        if kill -0 "$pid" 2>/dev/null; then
            kill "$pid"
            wait "$pid" 2>/dev/null || true
        fi
    done
    remove_root || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

in_root() {
    chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive "$@"
}
# Every path in the root but the kernel's, the temporary folders and apt's and dpkg's own books.
snapshot() {
    in_root find / -xdev \( -path /proc -o -path /sys -o -path /dev -o -path /tmp -o -path /run \
        -o -path /var/cache -o -path /var/log -o -path /var/lib/apt -o -path /var/lib/dpkg \
        -o -path /root \) -prune -o -print | sort
}

# The archive this machine installs from, in its deb822 sources file.
sources=$(grep -l "^Suites:.*bookworm" /etc/apt/sources.list.d/*.sources | head -n 1)
uri=$(awk '/^URIs:/ { print $2; exit }' "$sources")
[[ -n "$uri" ]] || fail "no archive URI in /etc/apt/sources.list.d/"

if [[ ! -f "$base/.complete" ]]; then
    step "making a minimal Debian 12 root from $uri"
    rm -rf "$base"
    debootstrap --variant=minbase --include=man-db bookworm "$base" "$uri" >"$work/debootstrap.log" 2>&1 ||
        { tail -n 30 "$work/debootstrap.log" >&2; fail "debootstrap failed"; }
    touch "$base/.complete"
fi

step "copying the clean root"
# The display the window will show on; it makes /tmp/.X11-unix, which the root sees too.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 100); do
    [[ -s "$work/display" ]] && break
    sleep 0.1
done
display=:$(cat "$work/display")
[[ "$display" != : ]] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
remove_root
cp -a "$base" "$root"
rm -f "$root/etc/apt/sources.list"
cp "$sources" "$root/etc/apt/sources.list.d/"
cp /etc/resolv.conf "$root/etc/resolv.conf"
mount -t proc proc "$root/proc"
mkdir -p "$archives/partial"
mount --bind "$archives" "$root/var/cache/apt/archives"
mkdir -p "$root/tmp/.X11-unix"
mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"
in_root apt-get update -qq || fail "apt-get update failed in the root"
before_packages=$(in_root dpkg-query -W -f '${Package}\n' | sort)
snapshot >"$work/before.txt"

step "apt-get install ./$(basename "$deb")"
cp "$deb" "$root/tmp/"
in_root apt-get install -y --no-install-recommends "/tmp/$(basename "$deb")" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log" >&2; fail "apt-get could not install the package"; }
new_packages=$(comm -13 <(echo "$before_packages") <(in_root dpkg-query -W -f '${Package}\n' | sort))
echo "$(echo "$new_packages" | wc -l) packages installed:" $new_packages
for program in lumivox lumivox-cli; do
    missing=$(in_root ldd "/usr/bin/$program" | grep "not found" || true)
    [[ -z "$missing" ]] || fail "$program lacks libraries: $missing"
done

step "lumivox-cli vocodes the installed examples"
examples=/usr/share/doc/lumivox/examples
in_root lumivox-cli "$examples/carrier-chord.wav" "$examples/modulator-speech.wav" /tmp/vocoded.wav ||
    fail "lumivox-cli failed"
output="$root/tmp/vocoded.wav"
file "$output"
file "$output" | grep -q "WAVE audio, Microsoft PCM, 16 bit, mono 22050 Hz" || fail "not a mono wave file"
# The output's header is two bytes longer than the examples' and its data as long as the shorter.
shorter=$(stat -c %s "$root$examples/carrier-chord.wav" "$root$examples/modulator-speech.wav" | sort -n | head -n 1)
[[ $(stat -c %s "$output") -eq $((shorter + 2)) ]] || fail "the output is not as long as the examples"

step "the window starts from the menu entry's Exec line"
exec_line=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/$app_id.desktop")
[[ -n "$exec_line" ]] || fail "the menu entry has no Exec line"
# A network namespace of its own keeps the window's single-instance name apart from any Lumivox
# running out here; the X socket is reached through the bind-mounted folder.
unshare --net chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
    LANG=C.UTF-8 DISPLAY="$display" sh -c "exec $exec_line" >"$work/window.log" 2>&1 &
window_pid=$!
window=$(DISPLAY=$display timeout 30 xdotool search --sync --onlyvisible --name '^Lumivox$' | head -n 1) ||
    fail "no window titled Lumivox appeared; the program printed: $(cat "$work/window.log")"
echo "window $window titled \"$(DISPLAY=$display xdotool getwindowname "$window")\" on $display"
# X11 desktops match a window to its menu entry by the window's class.
wm_class=$(sed -n 's/^StartupWMClass=//p' "$root/usr/share/applications/$app_id.desktop")
DISPLAY=$display xprop -id "$window" WM_CLASS | tee "$work/wm_class.txt"
grep -q "\"$wm_class\"" "$work/wm_class.txt" || fail "the window's class is not $wm_class"
kill -0 "$window_pid" || fail "the window's program ended"
kill "$window_pid"
wait "$window_pid" 2>/dev/null || true
window_pid=
if [[ -s "$work/window.log" ]]; then
    echo "the window's program printed:"
    cat "$work/window.log"
fi

step "man lumivox-cli"
in_root sh -c 'MANPAGER=cat MANWIDTH=80 man lumivox-cli' >"$work/man.txt" 2>"$work/man.err" ||
    fail "man lumivox-cli failed: $(cat "$work/man.err")"
[[ ! -s "$work/man.err" ]] || fail "man lumivox-cli printed: $(cat "$work/man.err")"
head -n 4 "$work/man.txt"
grep -q -- "--vagueness N" "$work/man.txt" || fail "the page lacks --vagueness"

step "bash completion of --va"
offered=$(in_root bash -c 'source /usr/share/bash-completion/completions/lumivox-cli
    COMP_WORDS=(lumivox-cli --va); COMP_CWORD=1; _lumivox_cli; printf "%s\n" "${COMPREPLY[@]}"')
echo "lumivox-cli --va<Tab> offers: $offered"
[[ "$offered" == --vagueness ]] || fail "--va<Tab> did not offer just --vagueness"

step "apt-get purge lumivox"
dpkg-deb -c "$deb" | awk '{ sub("^\\./", "/", $6); print $6 }' | sed 's#/$##' | grep -v '^$' >"$work/package-files.txt"
in_root apt-get purge -y lumivox >"$work/purge.log" 2>&1 ||
    { cat "$work/purge.log" >&2; fail "apt-get purge failed"; }
in_root dpkg-query -W -f '${Status}' lumivox >/dev/null 2>&1 && fail "dpkg still knows the package"
snapshot >"$work/after.txt"
# Left behind: a path of the package that is still there, unless it is a folder that was there
# before or that another package owns.
leftovers=()
while read -r path; do
    [[ -e "$root$path" || -L "$root$path" ]] || continue
    if [[ -d "$root$path" ]] && { grep -qxF "$path" "$work/before.txt" || in_root dpkg-query -S "$path" >/dev/null 2>&1; }; then
        continue
    fi
    leftovers+=("$path")
done <"$work/package-files.txt"
# And anything new since before the install that names the program.
while read -r path; do
    leftovers+=("$path")
done < <(comm -13 "$work/before.txt" "$work/after.txt" | grep -i lumivox || true)
if [[ ${#leftovers[@]} -gt 0 ]]; then
    printf '  %s\n' "${leftovers[@]}" | sort -u >&2
    fail "the purge left these behind"
fi
echo "none of the package's $(wc -l <"$work/package-files.txt") paths is left"
# What stays is the dependencies' doing: their files, and what their install scripts made.
comm -13 "$work/before.txt" "$work/after.txt" >"$work/new.txt"
# Packages that name /lib or /bin put their files under /usr (the merged /usr of Debian 12).
in_root dpkg-query -L $new_packages 2>/dev/null | sed -E 'p; s#^/(lib|lib64|bin|sbin)/#/usr/\1/#' |
    sort -u >"$work/owned.txt" || true
comm -23 "$work/new.txt" "$work/owned.txt" >"$work/unowned.txt"
echo "new since the install: $(wc -l <"$work/new.txt") paths, of which" \
    "$(wc -l <"$work/unowned.txt") belong to no package (made by the dependencies' install scripts):"
grep -v "^/usr/share/mime/" "$work/unowned.txt" | sed 's/^/  /' || true
echo "  and $(grep -c "^/usr/share/mime/" "$work/unowned.txt" || true) paths under /usr/share/mime (the MIME database)"

step "passed"
