#!/usr/bin/env bash
# Checks what Lumivox installs, on the build in build/:
#   - `cmake --install` into a temporary prefix puts exactly the expected files there (no tests,
#     benchmarks or tools), with one app id for the menu entry, icon, metainfo and window;
#   - desktop-file-validate, `appstreamcli validate --no-net` and `man --warnings` find nothing;
#   - the installed lumivox-cli reports its version and vocodes the installed examples, its man
#     page renders and its completion offers the options;
#   - the LV2 tools find the installed plugin, which shows no name but lv2_descriptor;
#   - scripts/package.sh makes the Debian package, its programs and plugin carry Debian's hardening
#     (fortified calls, stack protector, read-only relocations, immediate binding), and lintian --pedantic
#     reports no error, no warning and no hardening tag on it.
set -euo pipefail
cd "$(dirname "$0")/.."
app_id=org.lumivox.lumivox
arch=$(dpkg --print-architecture)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "check_install: FAILED: $*" >&2
    exit 1
}
step() { echo "check_install: $*"; }

prefix="$work/prefix"
cmake --install build --prefix "$prefix" >/dev/null

step "installed files"
expected=(bin/lumivox bin/lumivox-cli
    "share/applications/$app_id.desktop"
    "share/metainfo/$app_id.metainfo.xml"
    "share/icons/hicolor/scalable/apps/$app_id.svg"
    share/man/man1/lumivox.1 share/man/man1/lumivox-cli.1
    share/bash-completion/completions/lumivox-cli
    share/doc/lumivox/README.md share/doc/lumivox/copyright share/doc/lumivox/changelog
    share/doc/lumivox/examples/carrier-chord.wav share/doc/lumivox/examples/modulator-speech.wav
    lib/lv2/lumivox.lv2/manifest.ttl lib/lv2/lumivox.lv2/lumivox.ttl lib/lv2/lumivox.lv2/lumivox.so)
for size in 16 32 48 64 128 256; do
    expected+=("share/icons/hicolor/${size}x${size}/apps/$app_id.png")
    file "$prefix/share/icons/hicolor/${size}x${size}/apps/$app_id.png" |
        grep -q "PNG image data, $size x $size," || fail "the ${size}x${size} icon is not $size pixels wide"
done
diff <(printf '%s\n' "${expected[@]}" | sort) <(cd "$prefix" && find . -type f -printf '%P\n' | sort) ||
    fail "the installed files differ from the list above (< missing, > not expected)"

step "one app id for the menu entry, icon, metainfo and window"
desktop="$prefix/share/applications/$app_id.desktop"
metainfo="$prefix/share/metainfo/$app_id.metainfo.xml"
grep -qx "Icon=$app_id" "$desktop" || fail "the menu entry's icon is not $app_id"
grep -qx "Exec=lumivox" "$desktop" || fail "the menu entry does not run lumivox"
grep -q "^MimeType=" "$desktop" && fail "the menu entry names MIME types, but lumivox takes no files"
grep -q "<id>$app_id</id>" "$metainfo" || fail "the metainfo id is not $app_id"
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
    fail "the metainfo does not launch $app_id.desktop"
# Qt keeps string literals in UTF-16: look for the id with a zero byte after each character.
utf16_id=
for ((index = 0; index < ${#app_id}; index++)); do
    character=${app_id:index:1}
    [[ "$character" == . ]] && character='\.'
    utf16_id+="$character\\x00"
done
LC_ALL=C grep -qaP "$utf16_id" "$prefix/bin/lumivox" ||
    fail "the window does not report $app_id as its desktop file"

step "desktop-file-validate"
report=$(desktop-file-validate "$desktop" 2>&1) || true
[[ -z "$report" ]] || fail "desktop-file-validate: $report"

step "appstreamcli validate --no-net"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli rejects the metainfo"

step "man --warnings"
for page in lumivox lumivox-cli; do
    report=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/$page.1" 2>&1 >"$work/$page.txt") ||
        fail "man could not render $page.1"
    [[ -z "$report" ]] || fail "man warns on $page.1: $report"
    grep -q "^NAME" "$work/$page.txt" || fail "$page.1 rendered without a NAME section"
done
grep -q -- "--vagueness N" "$work/lumivox-cli.txt" || fail "the rendered lumivox-cli page lacks --vagueness"

step "the installed lumivox-cli"
version=$("$prefix/bin/lumivox-cli" --version)
# The same version as the project's and the package's.
expectedVersion="Lumivox $(sed -n 's/^project(Lumivox VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
[[ "$version" == "$expectedVersion" ]] || fail "--version printed '$version', not '$expectedVersion'"
examples="$prefix/share/doc/lumivox/examples"
output="$work/vocoded.wav"
"$prefix/bin/lumivox-cli" --quiet --clearance 30 --vagueness 20 --gain 80 \
    "$examples/carrier-chord.wav" "$examples/modulator-speech.wav" "$output" ||
    fail "lumivox-cli could not vocode the installed examples"
file "$output" | grep -q "WAVE audio, Microsoft PCM, 16 bit, mono 22050 Hz" ||
    fail "the output is not a 16-bit mono wave file: $(file "$output")"
size=$(stat -c %s "$output")
[[ $(od -An -tu4 -j4 -N4 "$output" | tr -d ' ') -eq $((size - 8)) ]] || fail "RIFF size not patched"
[[ $(od -An -tu4 -j42 -N4 "$output" | tr -d ' ') -eq $(($(soxi -s "$examples/carrier-chord.wav") * 2)) ]] ||
    fail "the output is not as long as the examples"

step "the installed LV2 plugin"
plugin_uri=http://lumivox.org/plugins/vocoder
LV2_PATH="$prefix/lib/lv2:/usr/lib/lv2" lv2ls | grep -qx "$plugin_uri" || fail "lv2ls does not find $plugin_uri"
LV2_PATH="$prefix/lib/lv2:/usr/lib/lv2" lv2info "$plugin_uri" >"$work/lv2info.txt" || fail "lv2info failed"
grep -q "Binary: *file://$prefix/lib/lv2/lumivox.lv2/lumivox.so" "$work/lv2info.txt" ||
    fail "lv2info does not name the installed shared object"
[[ $(nm -D --defined-only "$prefix/lib/lv2/lumivox.lv2/lumivox.so" | awk '{ print $3 }') == lv2_descriptor ]] ||
    fail "the plugin exports more than lv2_descriptor"

step "bash completion"
offered=$(bash -c 'source "$1"; COMP_WORDS=(lumivox-cli --va); COMP_CWORD=1; _lumivox_cli
    printf "%s\n" "${COMPREPLY[@]}"' bash "$prefix/share/bash-completion/completions/lumivox-cli")
[[ "$offered" == --vagueness ]] || fail "--va<Tab> offered '$offered'"

step "the Debian package"
deb=$(scripts/package.sh | tail -n 1)
[[ "$deb" == "build/lumivox_1.0.0_$arch.deb" ]] || fail "package.sh made '$deb'"
[[ $(dpkg-deb -f "$deb" Section) == sound ]] || fail "the package's section is not sound"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6widgets6 libportaudio2 libsndfile1 libsoxr0 libstdc++6 qt6-qpa-plugins; do
    [[ ", $depends," =~ ", $library"[\ ,] ]] || fail "Depends lacks $library: $depends"
done
# The package holds the same files as the prefix, with the manual pages and changelog compressed.
diff <(printf '%s\n' "${expected[@]}" | sed -E 's#^(share/man/man1/.*\.1|share/doc/lumivox/changelog)$#\1.gz#' | sort) \
    <(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub("^\\./usr/", "", $6); print $6 }' | sort) ||
    fail "the package's files differ from the installed ones (< missing, > not expected)"
dpkg-deb -x "$deb" "$work/unpacked"
for program in bin/lumivox bin/lumivox-cli lib/lv2/lumivox.lv2/lumivox.so; do
    binary="$work/unpacked/usr/$program"
    file "$binary" | grep -q ", stripped" || fail "$program is not stripped"
    readelf -lW "$binary" | grep -q GNU_RELRO || fail "$program has no read-only relocations"
    readelf -dW "$binary" | grep -qE "BIND_NOW|FLAGS_1.* NOW" || fail "$program is not bound at once"
    symbols=$(nm -D "$binary")
    grep -q " __stack_chk_fail" <<<"$symbols" || fail "$program has no stack protector"
    # The plugin's few C library calls (memcpy, memset on buffers of run-time sizes) have no
    # fortified form the compiler can choose; lintian judges it below.
    if [[ $program == bin/* ]]; then
        grep -qE " __[a-z_]+_chk(@|$)" <<<"$symbols" || fail "$program calls no fortified function"
    fi
done

step "lintian"
# Lintian's remark on being run as root (as CI does) is not about the package.
status=0
lintian --pedantic --display-info "$deb" >"$work/lintian.txt" 2>&1 || status=$?
grep -v "^running with root privileges" "$work/lintian.txt" || true
grep -q "^[EW]:" "$work/lintian.txt" && fail "lintian reports errors or warnings"
grep -q " hardening-" "$work/lintian.txt" && fail "lintian finds a program without Debian's hardening"
[[ $status -eq 0 ]] || fail "lintian ended with status $status"
step "passed ($(stat -c %s "$deb") bytes; Depends: $depends)"
