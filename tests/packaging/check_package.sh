#!/usr/bin/env bash
# Checks Quill Sift the way a Linux desktop installs it:
#   validate  the desktop entry and the AppStream metadata in data/
#   install   `cmake --install` into a temporary root: every file lands and names the others
#   deb       the Debian package: its name and fields, Depends on the Qt 6 libraries, and the
#             program extracted from it with `dpkg -x` starts
# Usage: check_package.sh MODE SOURCE_DIR BUILD_DIR VERSION APPSTREAM_ID [ICON_SIZES]
# ICON_SIZES is the list of rendered PNG sizes, separated by ';' or blanks (empty when the
# build had no SVG renderer). A missing tool skips its check with a message; exit status 77
# tells CTest that something was skipped and nothing failed.
set -euo pipefail

mode=$1 src=$2 build=$3 version=$4 appstream_id=$5
read -r -a icon_sizes <<<"${6//;/ }"

work=$(mktemp -d "${TMPDIR:-/tmp}/qs-packaging.XXXXXX")
app_pid=""
# shellcheck disable=SC2317 # called by the trap
cleanup() {
    if [ -n "$app_pid" ]; then
        kill -KILL "$app_pid" 2>/dev/null || true
        wait "$app_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
skips=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
skip() { echo "SKIP: $*"; skips=$((skips + 1)); }
pass() { echo "ok: $*"; }
have() { command -v "$1" >/dev/null 2>&1; }

finish() {
    if [ "$failures" -gt 0 ]; then
        echo "$failures check(s) failed"
        exit 1
    fi
    [ "$skips" -gt 0 ] && exit 77
    exit 0
}

# Our entries are kept free of errors, warnings and hints alike.
validate_desktop() {
    local file=$1 out rc=0
    if ! have desktop-file-validate; then
        skip "desktop-file-validate missing (Debian package desktop-file-utils): $file not validated"
        return
    fi
    out=$(desktop-file-validate "$file" 2>&1) || rc=$?
    if [ "$rc" -ne 0 ] || [ -n "$out" ]; then
        fail "desktop-file-validate $file:"$'\n'"$out"
    else
        pass "desktop-file-validate $file"
    fi
}

# --strict: warnings and notes fail too; pedantic hints do not.
validate_appstream() {
    local what=$1 target=$2 out rc=0
    if ! have appstreamcli; then
        skip "appstreamcli missing (Debian package appstream): $target not validated"
        return
    fi
    out=$(appstreamcli "$what" --no-net --strict "$target" 2>&1) || rc=$?
    if [ "$rc" -ne 0 ]; then
        fail "appstreamcli $what $target:"$'\n'"$out"
    else
        pass "appstreamcli $what $target"
    fi
}

# The value of KEY in the [Desktop Entry] group of a desktop file.
desktop_value() {
    awk -v key="$1" '/^\[/ { group = ($0 == "[Desktop Entry]") }
        group && index($0, key "=") == 1 { print substr($0, length(key) + 2); exit }' "$2"
}

check_validate() {
    validate_desktop "$src/data/quillsift.desktop"
    validate_appstream validate "$src/data/quillsift.metainfo.xml"

    # The newest release is listed first; it must be the version being built.
    local released
    released=$(grep -m 1 -o '<release [^>]*version="[^"]*"' "$src/data/quillsift.metainfo.xml" \
        | sed 's/.*version="\([^"]*\)"/\1/' || true)
    if [ "$released" = "$version" ]; then
        pass "metainfo's newest release is $version"
    else
        fail "metainfo's newest release is '$released', the project version is $version"
    fi
}

check_install() {
    local root=$work/install usr
    usr=$root/usr
    if ! DESTDIR=$root cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1; then
        fail "cmake --install:"$'\n'"$(cat "$work/install.log")"
        return
    fi

    local file
    local expected=(
        share/applications/quillsift.desktop
        share/icons/hicolor/scalable/apps/quillsift.svg
        "share/metainfo/$appstream_id.metainfo.xml"
        share/doc/quillsift/copyright
    )
    for size in "${icon_sizes[@]}"; do
        expected+=("share/icons/hicolor/${size}x${size}/apps/quillsift.png")
    done
    if [ -x "$usr/bin/quillsift" ] && [ -f "$usr/bin/quillsift" ]; then
        pass "bin/quillsift installed, executable"
    else
        fail "bin/quillsift missing or not executable"
    fi
    for file in "${expected[@]}"; do
        if [ -s "$usr/$file" ]; then pass "$file installed"; else fail "$file missing"; fi
    done

    # The entry's command, icon and the metadata's launcher and binary name installed files.
    local desktop=$usr/share/applications/quillsift.desktop metainfo
    metainfo=$usr/share/metainfo/$appstream_id.metainfo.xml
    if [ -f "$desktop" ]; then
        validate_desktop "$desktop"
        local exec icon
        exec=$(desktop_value Exec "$desktop")
        icon=$(desktop_value Icon "$desktop")
        if [ -x "$usr/bin/${exec%% *}" ]; then
            pass "Exec=$exec runs an installed program"
        else
            fail "Exec=$exec: no such program in bin/"
        fi
        if [ -f "$usr/share/icons/hicolor/scalable/apps/$icon.svg" ]; then
            pass "Icon=$icon is in the hicolor theme"
        else
            fail "Icon=$icon: not in share/icons/hicolor/scalable/apps"
        fi
    fi
    if [ -f "$metainfo" ]; then
        local launchable binary
        launchable=$(sed -n 's/.*<launchable type="desktop-id">\([^<]*\)<.*/\1/p' "$metainfo")
        binary=$(sed -n 's/.*<binary>\([^<]*\)<.*/\1/p' "$metainfo")
        if [ -n "$launchable" ] && [ -f "$usr/share/applications/$launchable" ]; then
            pass "launchable $launchable installed"
        else
            fail "launchable '$launchable' is not in share/applications"
        fi
        if [ -n "$binary" ] && [ -x "$usr/bin/$binary" ]; then
            pass "provided binary $binary installed"
        else
            fail "provided binary '$binary' is not in bin/"
        fi
        validate_appstream validate-tree "$root"
    fi
}

check_deb() {
    local needed
    for needed in cpack:cmake dpkg:dpkg dpkg-deb:dpkg dpkg-shlibdeps:dpkg-dev; do
        if ! have "${needed%%:*}"; then
            skip "${needed%%:*} missing (Debian package ${needed#*:}): the Debian package is not checked"
            return
        fi
    done

    if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1; then
        fail "cpack:"$'\n'"$(cat "$work/cpack.log")"
        return
    fi
    local deb
    deb=$work/pkg/quillsift_${version}_$(dpkg --print-architecture).deb
    if [ ! -f "$deb" ]; then
        fail "no $(basename "$deb"); cpack made: $(cd "$work/pkg" && echo *.deb)"
        return
    fi
    pass "$(basename "$deb") built"

    local field value
    for field in Package:quillsift Version:"$version" Section:utils; do
        value=$(dpkg-deb -f "$deb" "${field%%:*}")
        if [ "$value" = "${field#*:}" ]; then
            pass "$field"
        else
            fail "${field%%:*} is '$value', not '${field#*:}'"
        fi
    done
    [ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no Maintainer"
    [ -n "$(dpkg-deb -f "$deb" Description)" ] || fail "no Description"

    local depends lib
    depends=$(dpkg-deb -f "$deb" Depends)
    for lib in libqt6core6 libqt6gui6 libqt6widgets6; do
        if grep -qE "(^|, )$lib( |,|$)" <<<"$depends"; then
            pass "Depends names $lib"
        else
            fail "Depends does not name $lib: '$depends'"
        fi
    done

    local outside
    outside=$(dpkg-deb -c "$deb" | awk '{print $NF}' | grep -vE '^\./(usr/.*)?$' || true)
    [ -z "$outside" ] || fail "files outside /usr:"$'\n'"$outside"

    # dpkg's own reading of the package: its fields parse and its Depends are met here.
    if [ "$(id -u)" -eq 0 ]; then
        if dpkg --dry-run -i "$deb" >"$work/dpkg.log" 2>&1; then
            pass "dpkg accepts the package"
        else
            fail "dpkg --dry-run -i:"$'\n'"$(cat "$work/dpkg.log")"
        fi
    fi

    local root=$work/root
    dpkg -x "$deb" "$root"
    local program=$root/usr/bin/quillsift
    if [ ! -x "$program" ]; then
        fail "the package holds no executable usr/bin/quillsift"
        return
    fi
    if have readelf; then
        if grep -q '\.qs_version' <<<"$(readelf -S "$program")"; then
            pass "the packaged program keeps its version resource"
        else
            fail "the packaged program lost its .qs_version section"
        fi
    fi
    start_program "$program"
}

# Ends the program started below: asked first, then forced after 3 s.
stop_program() {
    kill -TERM "$app_pid" 2>/dev/null || true
    local waited=0
    while kill -0 "$app_pid" 2>/dev/null && [ "$waited" -lt 30 ]; do
        sleep 0.1
        waited=$((waited + 1))
    done
    kill -KILL "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
    app_pid=""
}

# Starts the extracted program headless in a private home, and counts it started once its
# start-up has written the settings file and it is still running three seconds after start.
start_program() {
    local program=$1 home=$work/home
    mkdir -p "$home/config" "$home/data" "$home/cache" "$home/runtime" "$home/tmp"
    chmod 700 "$home/runtime"
    local settings=$home/config/Orvane/quillSift/Options.ini
    # The usage ping goes to a closed port on this machine, never out.
    env -u LD_LIBRARY_PATH -u LD_PRELOAD -u no_proxy -u NO_PROXY \
        QT_QPA_PLATFORM=offscreen HOME="$home" XDG_CONFIG_HOME="$home/config" \
        XDG_DATA_HOME="$home/data" XDG_CACHE_HOME="$home/cache" \
        XDG_RUNTIME_DIR="$home/runtime" TMPDIR="$home/tmp" \
        https_proxy=http://127.0.0.1:9 HTTPS_PROXY=http://127.0.0.1:9 \
        "$program" >"$work/program.log" 2>&1 &
    app_pid=$!

    local waited=0 started=""
    # Ten steps a second: at least 3 s alive, at most 30 s for a slow (sanitizer) start.
    while [ "$waited" -lt 300 ]; do
        if ! kill -0 "$app_pid" 2>/dev/null; then
            local status=0
            wait "$app_pid" || status=$?
            app_pid=""
            fail "the packaged program ended by itself (status $status):"$'\n'"$(cat "$work/program.log")"
            return
        fi
        if [ "$waited" -ge 30 ] && [ -f "$settings" ]; then
            started=yes
            break
        fi
        sleep 0.1
        waited=$((waited + 1))
    done
    stop_program
    if [ -n "$started" ]; then
        pass "the packaged program started and wrote its settings"
    else
        fail "the packaged program runs but wrote no $settings:"$'\n'"$(cat "$work/program.log")"
    fi
}

case "$mode" in
    validate) check_validate ;;
    install) check_install ;;
    deb) check_deb ;;
    *)
        echo "unknown mode '$mode' (validate, install or deb)" >&2
        exit 2
        ;;
esac
finish
