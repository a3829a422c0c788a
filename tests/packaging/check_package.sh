#!/usr/bin/env bash
# Checks Quill Sift the way a Linux desktop, and Debian, install it:
#   validate  the desktop entry and the AppStream metadata in data/ (its network declaration
#             too), and the README's install section and network statement
#   install   `cmake --install` into a temporary root: every file lands and names the others
#   debfile   builds the Debian package into BUILD_DIR/tests/packaging/deb, for the modes below
#   deb       its name and fields, Depends on the Qt 6 libraries, Recommends, the description's
#             network statement, and the program extracted from it with `dpkg -x` starts;
#             quillsift-copy prints its help and copies
#   docs      its changelog (from the AppStream releases), copyright file and manual pages
#   lintian   lintian reports no error and no warning (lintian is installed when missing)
#   hardening the packaged binaries carry the distribution's hardening (readelf)
#   wayland   under a Wayland session (a headless sway) the packaged program starts on Qt's
#             Wayland platform; missing Recommends are installed first, as apt would
# Usage: check_package.sh MODE SOURCE_DIR BUILD_DIR VERSION APPSTREAM_ID [ICON_SIZES]
# ICON_SIZES is the list of rendered PNG sizes, separated by ';' or blanks (empty when the
# build had no SVG renderer). A missing tool skips its check with a message; exit status 77
# tells CTest that something was skipped and nothing failed.
set -euo pipefail

mode=$1 src=$2 build=$3 version=$4 appstream_id=$5
read -r -a icon_sizes <<<"${6//;/ }"

work=$(mktemp -d "${TMPDIR:-/tmp}/qs-packaging.XXXXXX")
deb_dir=$build/tests/packaging/deb
app_pid=""
compositor_pid=""
# shellcheck disable=SC2317 # called by the trap
cleanup() {
    local pid
    for pid in "$app_pid" "$compositor_pid"; do
        if [ -n "$pid" ]; then
            kill -KILL "$pid" 2>/dev/null || true
            wait "$pid" 2>/dev/null || true
        fi
    done
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
skips=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
skip() { echo "SKIP: $*"; skips=$((skips + 1)); }
pass() { echo "ok: $*"; }
have() { command -v "$1" >/dev/null 2>&1; }

# Installs Debian packages when they are missing and this runs as root with apt, as
# scripts/install-deps would; false when they are still missing.
ensure_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' \
            || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ] || ! have apt-get; then
        return 1
    fi
    echo "installing ${missing[*]}"
    local apt=(env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends)
    # Package lists may be missing on a fresh machine: updated once, then tried again.
    "${apt[@]}" "${missing[@]}" >"$work/apt.log" 2>&1 \
        || { apt-get update -q >>"$work/apt.log" 2>&1 \
            && "${apt[@]}" "${missing[@]}" >>"$work/apt.log" 2>&1; } \
        || { cat "$work/apt.log"; return 1; }
}

# The one package built by the debfile mode.
the_deb() {
    local deb
    deb=$deb_dir/quillsift_${version}_$(dpkg --print-architecture).deb
    if [ ! -f "$deb" ]; then
        echo "FAIL: no $deb (the debfile mode builds it)" >&2
        return 1
    fi
    echo "$deb"
}

# Extracts the package once into $work/root.
extract_deb() {
    local deb=$1
    if [ ! -d "$work/root" ]; then
        dpkg -x "$deb" "$work/root"
    fi
}

# A build setting from the cache, such as QS_ANALYTICS_URL.
cache_value() {
    sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"
}

# check_that PASS-MESSAGE FAIL-MESSAGE COMMAND...: one check by the command's status.
check_that() {
    local ok=$1 ko=$2
    shift 2
    if "$@"; then pass "$ok"; else fail "$ko"; fi
}

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

    # Software centres learn the network use from the OARS rating: the usage ping shares usage
    # data ("moderate"), more than the update check alone ("mild"); an empty rating says none.
    local social
    social=$(sed -n 's/.*<content_attribute id="social-info">\([^<]*\)<.*/\1/p' \
        "$src/data/quillsift.metainfo.xml")
    case "$social" in
        moderate | intense) pass "OARS social-info is $social" ;;
        *) fail "OARS social-info is '$social'; the usage ping needs at least 'moderate'" ;;
    esac

    # The README says how to build and install the package and what goes over the network.
    local readme=$src/README.md section
    section=$(awk '/^## / { inside = ($0 == "## Install as a Debian package") } inside' "$readme")
    if [ -z "$section" ]; then
        fail "README has no '## Install as a Debian package' section"
    else
        check_that "README: the command that builds the .deb" \
            "README's install section has no '--target package' build command" \
            grep -q -- '--target package' <<<"$section"
        check_that "README: the command that installs it" \
            "README's install section has no 'apt install ./...deb' command" \
            grep -qE 'apt(-get)? install .*\./' <<<"$section"
    fi
    local fact
    for fact in 'idsite=14&rec=1' '/files/quillsift.INF'; do
        if grep -qF -- "$fact" "$readme"; then
            pass "README names $fact"
        else
            fail "README does not state the network request $fact"
        fi
    done
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
        share/doc/quillsift/changelog.gz
        share/man/man1/quillsift.1.gz
        share/man/man1/quillsift-copy.1.gz
    )
    for size in "${icon_sizes[@]}"; do
        expected+=("share/icons/hicolor/${size}x${size}/apps/quillsift.png")
    done
    local program
    for program in quillsift quillsift-copy; do
        if [ -x "$usr/bin/$program" ] && [ -f "$usr/bin/$program" ]; then
            pass "bin/$program installed, executable"
        else
            fail "bin/$program missing or not executable"
        fi
    done
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
        local launchable binary binaries
        launchable=$(sed -n 's/.*<launchable type="desktop-id">\([^<]*\)<.*/\1/p' "$metainfo")
        mapfile -t binaries < <(sed -n 's/.*<binary>\([^<]*\)<.*/\1/p' "$metainfo")
        if [ -n "$launchable" ] && [ -f "$usr/share/applications/$launchable" ]; then
            pass "launchable $launchable installed"
        else
            fail "launchable '$launchable' is not in share/applications"
        fi
        [ ${#binaries[@]} -gt 0 ] || fail "the metainfo provides no binary"
        for binary in "${binaries[@]}"; do
            if [ -x "$usr/bin/$binary" ]; then
                pass "provided binary $binary installed"
            else
                fail "provided binary '$binary' is not in bin/"
            fi
        done
        validate_appstream validate-tree "$root"
    fi
}

check_debfile() {
    local needed
    for needed in cpack:cmake dpkg:dpkg dpkg-deb:dpkg dpkg-shlibdeps:dpkg-dev; do
        if ! have "${needed%%:*}"; then
            skip "${needed%%:*} missing (Debian package ${needed#*:}): no Debian package built"
            return
        fi
    done
    rm -rf "$deb_dir"
    if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$deb_dir" >"$work/cpack.log" 2>&1; then
        fail "cpack:"$'\n'"$(cat "$work/cpack.log")"
        return
    fi
    local deb
    deb=$deb_dir/quillsift_${version}_$(dpkg --print-architecture).deb
    if [ -f "$deb" ]; then
        pass "$(basename "$deb") built"
    else
        fail "no $(basename "$deb"); cpack made: $(cd "$deb_dir" && echo *.deb)"
    fi
}

# A field of the package's control file.
field() { dpkg-deb -f "$deb" "$1"; }

check_deb() {
    local deb
    deb=$(the_deb) || { failures=$((failures + 1)); return; }

    local expected value
    for expected in Package:quillsift Version:"$version" Section:utils Priority:optional \
        Architecture:"$(dpkg --print-architecture)" Homepage:"$(cache_value QS_PUBLISHER_URL)"; do
        value=$(field "${expected%%:*}")
        if [ "$value" = "${expected#*:}" ]; then
            pass "$expected"
        else
            fail "${expected%%:*} is '$value', not '${expected#*:}'"
        fi
    done
    local name
    for name in Maintainer Installed-Size; do
        check_that "$name given" "no $name" [ -n "$(field "$name")" ]
    done

    local depends lib
    depends=$(field Depends)
    for lib in libqt6core6 libqt6gui6 libqt6widgets6 libdw1; do
        if grep -qE "(^|, )$lib( |,|$)" <<<"$depends"; then
            pass "Depends names $lib"
        else
            fail "Depends does not name $lib: '$depends'"
        fi
    done
    local recommends
    recommends=$(field Recommends)
    for lib in qt6-wayland qt6-translations-l10n ca-certificates; do
        if grep -qE "(^|, )$lib( |,|$)" <<<"$recommends"; then
            pass "Recommends names $lib"
        else
            fail "Recommends does not name $lib: '$recommends'"
        fi
    done

    # What the package manager shows before installing: what is sent, and when.
    local description
    description=$(field Description)
    for value in 'every start' 'site' 'number (idsite=14)' 'About box' 'quillsift.INF'; do
        if grep -qF -- "$value" <<<"$(tr '\n' ' ' <<<"$description" | tr -s ' ')"; then
            pass "Description states '$value'"
        else
            fail "Description does not state '$value':"$'\n'"$description"
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

    extract_deb "$deb"
    local program=$work/root/usr/bin/quillsift
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
    start_program "$program" "" QT_QPA_PLATFORM=offscreen
    check_copy_command
}

# The packaged quillsift-copy runs from the extracted package: its French help, and a copy.
check_copy_command() {
    local command=$work/root/usr/bin/quillsift-copy home=$work/copy-home out status=0
    if [ ! -x "$command" ]; then
        fail "the package holds no executable usr/bin/quillsift-copy"
        return
    fi
    mkdir -p "$home/config" "$home/src" "$home/dst"
    printf 'x' >"$home/src/a.txt"
    local run=(env -u LD_LIBRARY_PATH -u LD_PRELOAD HOME="$home" XDG_CONFIG_HOME="$home/config")
    out=$("${run[@]}" "$command" --help 2>&1) || status=$?
    if [ "$status" -eq 0 ] && grep -q '^Utilisation : quillsift-copy ' <<<"$out"; then
        pass "quillsift-copy --help prints its usage in French"
    else
        fail "quillsift-copy --help (status $status):"$'\n'"$out"
    fi
    status=0
    out=$("${run[@]}" "$command" "$home/src" "$home/dst" '*' 2>&1) || status=$?
    if [ "$status" -eq 0 ] && [ -f "$home/dst/a.txt" ] && [ ! -e "$home/config/Orvane" ]; then
        pass "quillsift-copy copies and leaves the settings folder alone"
    else
        fail "quillsift-copy SRC DST '*' (status $status):"$'\n'"$out"
    fi
}

# The documentation Debian asks for: changelog, copyright file, a manual page per program.
check_docs() {
    local deb
    deb=$(the_deb) || { failures=$((failures + 1)); return; }
    extract_deb "$deb"
    local doc=$work/root/usr/share/doc/quillsift metainfo=$src/data/quillsift.metainfo.xml
    local value name

    # The changelog: one entry per AppStream release, newest first, the newest being the
    # package's version; compressed without a name or time stamp in the gzip header.
    local changelog=$doc/changelog.gz
    if [ ! -f "$changelog" ]; then
        fail "no usr/share/doc/quillsift/changelog.gz"
    else
        check_that "changelog.gz is gzip" "changelog.gz is no gzip file" gzip -t "$changelog"
        if [ "$(od -An -tx1 -j3 -N5 "$changelog" | tr -d ' ')" = "0000000000" ]; then
            pass "changelog.gz has no name or time stamp"
        else
            fail "changelog.gz carries a file name or time stamp (gzip -n)"
        fi
        gzip -dc "$changelog" >"$work/changelog"
        local parsed released
        if ! parsed=$(dpkg-parsechangelog -l "$work/changelog" --all 2>&1); then
            fail "dpkg-parsechangelog:"$'\n'"$parsed"
        else
            value=$(dpkg-parsechangelog -l "$work/changelog" -S Version)
            check_that "changelog's newest entry is $version" \
                "changelog's newest entry is '$value', not $version" [ "$value" = "$version" ]
            value=$(dpkg-parsechangelog -l "$work/changelog" -S Maintainer)
            check_that "changelog signed by the Maintainer" \
                "changelog signed by '$value', the Maintainer is '$(field Maintainer)'" \
                [ "$value" = "$(field Maintainer)" ]
            released=$(grep -o '<release [^>]*version="[^"]*"' "$metainfo" \
                | sed 's/.*version="\([^"]*\)"/\1/' | tr '\n' ' ')
            value=$(sed -n 's/^quillsift (\([^)]*\)).*/\1/p' "$work/changelog" | tr '\n' ' ')
            check_that "changelog entries: $value" \
                "changelog entries '$value', AppStream releases '$released'" \
                [ "$value" = "$released" ]
        fi
    fi

    # The copyright file: machine-readable, with year and holder, and the licence the
    # metadata declares, its text given.
    local copyright=$doc/copyright licence
    licence=$(sed -n 's/.*<project_license>\([^<]*\)<.*/\1/p' "$metainfo")
    if [ ! -f "$copyright" ]; then
        fail "no usr/share/doc/quillsift/copyright"
    else
        local format='Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/'
        check_that "copyright is machine-readable" "copyright lacks its Format line" \
            [ "$(head -n 1 "$copyright")" = "$format" ]
        check_that "copyright names year and holder" "no 'Copyright: YEAR Orvane' line" \
            grep -qE '^Copyright: [0-9]{4}(-[0-9]{4})? Orvane$' "$copyright"
        value=$(awk '/^Files: \*$/ { files = 1; next } /^$/ { files = 0 } files' "$copyright")
        check_that "the program's licence is $licence, as the metadata says" \
            "Files: * does not carry the metadata's licence $licence" \
            grep -qx "License: $licence" <<<"$value"
        value=$(awk -v l="License: $licence" '$0 == l { on = 1; next } /^[^ ]/ { on = 0 } on' \
            "$copyright")
        if grep -q 'All rights reserved' <<<"$value"; then
            pass "the licence text of $licence is given"
        else
            fail "no 'License: $licence' paragraph with its text:"$'\n'"$(cat "$copyright")"
        fi
        if grep -q '@[A-Z_]*@' "$copyright"; then fail "copyright keeps a placeholder"; fi
    fi

    # A French manual page for every program, found by man, rendered without a warning, that
    # says what the program does, where its settings are, which files it uses and which
    # requests it makes.
    if ! have man; then
        skip "man missing (Debian package man-db): manual pages not read"
        return
    fi
    local program page text
    for program in "$work"/root/usr/bin/*; do
        name=$(basename "$program")
        page=$work/root/usr/share/man/man1/$name.1.gz
        if [ ! -f "$page" ]; then
            fail "no manual page usr/share/man/man1/$name.1.gz"
            continue
        fi
        check_that "$name.1.gz is gzip" "$name.1.gz is no gzip file" gzip -t "$page"
        value=$(MANPATH=$work/root/usr/share/man man -w "$name" 2>&1 || true)
        check_that "man finds $name(1)" "man -w $name: '$value'" [ "$value" = "$page" ]
        # As lintian reads it.
        value=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" \
            2>&1 >/dev/null)
        check_that "$name(1) renders without warnings" \
            "$name(1) renders with warnings:"$'\n'"$value" [ -z "$value" ]
        text=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$page" 2>/dev/null | tr -s ' ')
        local facts=('NOM' 'DESCRIPTION' 'FICHIERS' '.config/Orvane/quillSift/' 'Options.ini')
        case "$name" in
            quillsift-copy)
                facts+=('SYNOPSIS' 'OPTIONS' 'CODE DE RETOUR' 'EXEMPLES' '--dry-run' '--verify'
                    '--settings FICHIER' 'DontReplace' 'AdaptatFiltre' 'WithTimestamp' 'LogFile'
                    'Windows-1252' 'crontab')
                ;;
            *)
                facts+=('DOSSIER DES RÉGLAGES' 'RÉSEAU' 'RepSrc.txt' 'RepDst.txt' 'bugreport.txt'
                    "$(cache_value QS_ANALYTICS_URL)" '/statistiques/piwik.php?idsite=14&rec=1'
                    "$(cache_value QS_PUBLISHER_URL)/files/$name.INF")
                ;;
        esac
        for value in "${facts[@]}"; do
            if grep -qF -- "$value" <<<"$text"; then
                pass "$name(1) says '$value'"
            else
                fail "$name(1) does not say '$value'"
            fi
        done
    done
}

# No error and no warning from lintian, Debian's own judgement of a package.
check_lintian() {
    local deb
    deb=$(the_deb) || { failures=$((failures + 1)); return; }
    if ! have lintian && ! ensure_packages lintian; then
        skip "lintian missing and not installable here (Debian package lintian)"
        return
    fi
    local out rc=0
    out=$(lintian --info --display-level '>=pedantic' "$deb" 2>"$work/lintian.err") || rc=$?
    [ -n "$out" ] && echo "$out"
    local bad
    bad=$(grep -E '^[EW]: ' <<<"$out" || true)
    if [ -n "$bad" ] || [ "$rc" -ne 0 ]; then
        fail "lintian (status $rc):"$'\n'"$bad"$'\n'"$(cat "$work/lintian.err")"
    else
        pass "lintian: no error, no warning"
    fi
}

# Every ELF file the package installs carries the hardening of dpkg-buildflags, read back the
# way lintian's hardening checks read it.
check_hardening() {
    local deb
    deb=$(the_deb) || { failures=$((failures + 1)); return; }
    if ! have readelf; then
        skip "readelf missing (Debian package binutils): hardening not checked"
        return
    fi
    extract_deb "$deb"
    local file elves=0 header dynamic segments symbols chk
    while IFS= read -r -d '' file; do
        [ "$(head -c 4 "$file")" = $'\x7fELF' ] || continue
        elves=$((elves + 1))
        local rel=${file#"$work/root/"}
        header=$(readelf -hW "$file")
        dynamic=$(readelf -dW "$file")
        segments=$(readelf -lW "$file")
        symbols=$(readelf --dyn-syms -W "$file")
        if grep -q 'Type: *DYN' <<<"$header" && grep -qE 'FLAGS_1.*\bPIE\b' <<<"$dynamic"; then
            pass "$rel is PIE"
        else
            fail "$rel is not a position-independent executable"
        fi
        check_that "$rel has RELRO" "$rel has no GNU_RELRO" grep -q 'GNU_RELRO' <<<"$segments"
        if grep -qE '\(FLAGS\).*\bBIND_NOW\b|\(FLAGS_1\).*\bNOW\b' <<<"$dynamic"; then
            pass "$rel binds now (full RELRO)"
        else
            fail "$rel is not linked with -z now"
        fi
        check_that "$rel has the stack protector" \
            "$rel calls no __stack_chk_fail: built without -fstack-protector" \
            grep -qw '__stack_chk_fail' <<<"$symbols"
        chk=$(grep -oE '\b__[a-z0-9_]+_chk\b' <<<"$symbols" | grep -v '^__stack_chk_fail$' \
            | sort -u | tr '\n' ' ')
        check_that "$rel has fortified calls: $chk" \
            "$rel calls no fortified function: built without _FORTIFY_SOURCE" [ -n "$chk" ]
    done < <(find "$work/root" -type f -print0)
    [ "$elves" -gt 0 ] || fail "the package holds no ELF file"
}

# Under a Wayland session the program starts on Qt's Wayland platform, not on X11. The
# session is a headless sway (wlroots) without Xwayland; sway refuses to run as root, so it
# runs as nobody, and the program, as root, reaches its socket by an absolute WAYLAND_DISPLAY.
check_wayland() {
    local deb
    deb=$(the_deb) || { failures=$((failures + 1)); return; }
    if ! grep -qE '(^|, )qt6-wayland( |,|$)' <<<"$(field Recommends)"; then
        fail "Recommends does not name qt6-wayland"
        return
    fi
    # As `apt install ./quillsift.deb` would: the recommended packages come too.
    local recommends
    read -r -a recommends <<<"$(field Recommends | sed 's/([^)]*)//g; s/|[^,]*//g; s/,/ /g')"
    if ! ensure_packages "${recommends[@]}"; then
        skip "the package's Recommends (${recommends[*]}) are missing and not installable here"
        return
    fi
    local plugin
    plugin=$(dpkg -L qt6-wayland | grep -E '/platforms/libqwayland-[a-z]+\.so$' | head -n 1)
    if [ -n "$plugin" ] && [ -f "$plugin" ]; then
        pass "qt6-wayland brings the platform plugin $(basename "$plugin")"
    else
        fail "qt6-wayland brings no Qt platform plugin"
        return
    fi
    if ! have sway && ! ensure_packages sway; then
        skip "sway missing and not installable here (Debian package sway): no Wayland session"
        return
    fi
    extract_deb "$deb"

    local session=$work/session runtime=$work/session/runtime
    mkdir -p "$runtime"
    chmod 755 "$work" "$session"
    chmod 700 "$runtime"
    printf 'xwayland disable\n' >"$session/sway.conf"
    chmod 644 "$session/sway.conf"
    local as_user=()
    if [ "$(id -u)" -eq 0 ]; then
        chown nobody: "$runtime"
        as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
    fi
    env -i PATH=/usr/bin:/bin HOME="$session" XDG_RUNTIME_DIR="$runtime" \
        WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
        "${as_user[@]}" sway -c "$session/sway.conf" >"$work/sway.log" 2>&1 &
    compositor_pid=$!
    local socket="" waited=0
    while [ -z "$socket" ] && [ "$waited" -lt 100 ] && kill -0 "$compositor_pid" 2>/dev/null; do
        sleep 0.1
        waited=$((waited + 1))
        socket=$(find "$runtime" -maxdepth 1 -type s -name 'wayland-*' | head -n 1)
    done
    if [ -z "$socket" ]; then
        fail "the headless sway made no Wayland socket:"$'\n'"$(cat "$work/sway.log")"
        return
    fi
    pass "headless Wayland session at $socket"

    # A Wayland session's environment: no DISPLAY, no QT_QPA_PLATFORM.
    start_program "$work/root/usr/bin/quillsift" platform_is_wayland \
        WAYLAND_DISPLAY="$socket" XDG_SESSION_TYPE=wayland
    if grep -qiE 'could not (find|load) the qt platform plugin|qt\.qpa' "$work/program.log"; then
        fail "Qt warned about its platform:"$'\n'"$(cat "$work/program.log")"
    fi
}

# The running program's platform, by the plugin it has loaded.
# shellcheck disable=SC2317 # called by start_program
platform_is_wayland() {
    local maps
    maps=$(grep -oE 'platforms/lib[a-z-]+\.so' "/proc/$1/maps" | sort -u | tr '\n' ' ')
    if grep -q 'libqwayland' <<<"$maps" && ! grep -q 'libqxcb' <<<"$maps"; then
        pass "the program chose Qt's Wayland platform ($maps)"
    else
        fail "the program's platform plugins under Wayland: '$maps'"
    fi
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

# Starts the extracted program in a private home with the display environment given
# (NAME=VALUE..., nothing else of the caller's display survives), and counts it started once
# its start-up has written the settings file and it is still running three seconds after
# start; ON_STARTED, when not empty, is then called with the running program's process id.
# Usage: start_program PROGRAM ON_STARTED NAME=VALUE...
start_program() {
    local program=$1 on_started=$2 home=$work/home
    shift 2
    mkdir -p "$home/config" "$home/data" "$home/cache" "$home/runtime" "$home/tmp"
    chmod 700 "$home/runtime"
    local settings=$home/config/Orvane/quillSift/Options.ini
    # The usage ping goes to a closed port on this machine, never out.
    env -u LD_LIBRARY_PATH -u LD_PRELOAD -u no_proxy -u NO_PROXY \
        -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY -u XDG_SESSION_TYPE \
        HOME="$home" XDG_CONFIG_HOME="$home/config" \
        XDG_DATA_HOME="$home/data" XDG_CACHE_HOME="$home/cache" \
        XDG_RUNTIME_DIR="$home/runtime" TMPDIR="$home/tmp" \
        https_proxy=http://127.0.0.1:9 HTTPS_PROXY=http://127.0.0.1:9 "$@" \
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
    [ -n "$started" ] && [ -n "$on_started" ] && "$on_started" "$app_pid"
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
    debfile) check_debfile ;;
    deb) check_deb ;;
    docs) check_docs ;;
    lintian) check_lintian ;;
    hardening) check_hardening ;;
    wayland) check_wayland ;;
    *)
        echo "unknown mode '$mode' (validate, install, debfile, deb, docs, lintian," \
            "hardening or wayland)" >&2
        exit 2
        ;;
esac
finish
