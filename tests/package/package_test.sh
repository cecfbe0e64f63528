#!/usr/bin/env bash
# Checks a kingyo Debian package without installing it: unpacks it with dpkg-deb
# and looks at what it would install, at its control fields and at lintian's verdict.
#   package_test.sh path/to/kingyo_VERSION_ARCH.deb
# Each check prints "ok - ..." or "not ok - ..." with the reason; exits 1 if any failed.
set -uo pipefail
deb=$(realpath "${1:?usage: $0 path/to/kingyo_VERSION_ARCH.deb}")

work=$(mktemp -d "${TMPDIR:-/tmp}/kingyo-package-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
root="$work/root" # the package's files, as they would lie under /
dpkg-deb -x "$deb" "$root" || { echo "not ok - dpkg-deb cannot unpack $deb"; exit 1; }
binary="$root/usr/bin/kingyo"
desktop_file="$root/usr/share/applications/io.github.kingyo.desktop"
metainfo_file="$root/usr/share/metainfo/io.github.kingyo.metainfo.xml"

failures=0
# check NAME COMMAND...: runs the command; its output is shown only when it fails.
check() {
    local name=$1 output
    shift
    if output=$("$@" 2>&1); then
        echo "ok - $name"
    else
        echo "not ok - $name"
        [ -z "$output" ] || sed 's/^/    /' <<<"$output"
        failures=$((failures + 1))
    fi
}
# Ends the check (each runs in a subshell of its own) with the reason.
fail() { echo "$*"; exit 1; }
# A check whose tool is missing fails: passing without looking would hide a broken package.
need() { command -v "$1" >/dev/null || fail "$1 is not installed (package $2; scripts/install-deps test installs it)"; }

field() { dpkg-deb -f "$deb" "$1"; }

# Whether Depends names the package, alone or as one of alternatives.
depends_on() {
    field Depends | tr ',|' '\n\n' | sed 's/(.*//; s/[[:space:]]//g' | grep -qx "$1" ||
        fail "Depends lacks $1: $(field Depends)"
}

desktop_key() { sed -n "s/^$1=//p" "$desktop_file" | head -n 1; }

file_name_matches_fields() {
    local expected
    expected="kingyo_$(field Version)_$(field Architecture).deb"
    [ "$(basename "$deb")" = "$expected" ] || fail "named $(basename "$deb"), fields say $expected"
}

binary_is_an_executable() {
    [ -f "$binary" ] && [ -x "$binary" ] || fail "no executable usr/bin/kingyo"
    [ "$(head -c 4 "$binary")" = $'\x7fELF' ] || fail "usr/bin/kingyo is not an ELF file"
}

every_library_resolves() {
    local libraries
    libraries=$(ldd "$binary") || fail "ldd failed: $libraries"
    ! grep 'not found' <<<"$libraries" || fail "unresolved libraries"
}

# Qt loads its X11 platform plugin at run time; no link records it.
xcb_platform_plugin_is_depended_on() {
    local owner
    owner=$(dpkg -S '*/qt6/plugins/platforms/libqxcb.so' 2>/dev/null | head -n 1 | cut -d: -f1) ||
        fail "no installed package holds Qt's xcb platform plugin"
    [ -n "$owner" ] || fail "no installed package holds Qt's xcb platform plugin"
    depends_on "$owner"
}

desktop_entry_starts_the_binary() {
    [ -f "$desktop_file" ] || fail "no usr/share/applications/io.github.kingyo.desktop"
    local command
    command=$(desktop_key Exec | cut -d' ' -f1)
    [ -x "$root/usr/bin/$command" ] || fail "Exec=$command is not in usr/bin"
    need desktop-file-validate desktop-file-utils
    desktop-file-validate "$desktop_file"
}

desktop_icon_is_installed() {
    local icon
    icon=$(desktop_key Icon)
    compgen -G "$root/usr/share/icons/hicolor/*/apps/$icon.png" >/dev/null ||
        fail "no hicolor icon named $icon"
}

metainfo_launches_the_desktop_entry() {
    [ -f "$metainfo_file" ] || fail "no usr/share/metainfo/io.github.kingyo.metainfo.xml"
    grep -q "<launchable type=\"desktop-id\">$(basename "$desktop_file")</launchable>" "$metainfo_file" ||
        fail "the metainfo does not launch $(basename "$desktop_file")"
    need appstreamcli appstream
    appstreamcli validate --no-net "$metainfo_file"
}

# The program keeps its settings beside itself only where such a folder was made for it.
no_settings_folder_is_shipped() {
    local found
    found=$(cd "$root" && find . -name '★MailData')
    [ -z "$found" ] || fail "ships $found"
}

everything_is_under_usr_and_owned_by_root() {
    local top owners
    top=$(cd "$root" && find . -mindepth 1 -maxdepth 1)
    [ "$top" = ./usr ] || fail "installs outside /usr: $top"
    owners=$(dpkg-deb -c "$deb" | awk '{ print $2 }' | sort -u)
    [ "$owners" = root/root ] || fail "owners: $owners"
}

lintian_reports_no_error() {
    need lintian lintian
    local report
    report=$(lintian "$deb" 2>&1)
    echo "$report"
    ! grep -q '^E: ' <<<"$report"
}

# The unpacked program runs as an installed copy: with no "★MailData" beside it, it
# keeps its settings in a private per-user folder. Qt's offscreen platform stands in
# for a display; the program is stopped by its own pid.
keeps_settings_in_the_per_user_folder() {
    local home="$work/home" pid folder mode
    mkdir -p "$home" "$work/runtime"
    chmod 700 "$work/runtime"
    (cd "$home" && exec env -u XDG_DATA_HOME -u XDG_CONFIG_HOME HOME="$home" XDG_RUNTIME_DIR="$work/runtime" \
        QT_QPA_PLATFORM=offscreen "$root/usr/bin/kingyo" >"$work/kingyo.log" 2>&1) &
    pid=$!
    folder="$home/.local/share/kingyo/★MailData"
    for _ in $(seq 100); do
        [ -d "$folder" ] && break
        sleep 0.1
    done
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    [ -d "$folder" ] || fail "no $folder; the program said: $(cat "$work/kingyo.log")"
    mode=$(stat -c %a "$home/.local/share/kingyo")
    [ "$mode" = 700 ] || fail "the per-user folder is $mode, not 700"
    [ ! -e "$root/usr/bin/★MailData" ] || fail "a settings folder appeared beside the program"
}

check "the file name follows its Version and Architecture" file_name_matches_fields
check "usr/bin/kingyo is an executable" binary_is_an_executable
check "every library of the unpacked program resolves" every_library_resolves
check "Depends on Qt Widgets" depends_on libqt6widgets6
check "Depends on the Japanese font" depends_on fonts-ipafont-gothic
check "Depends on Qt's Japanese translation" depends_on qt6-translations-l10n
check "Depends on libsecret, which QtKeychain loads for the keyring" depends_on libsecret-1-0
check "Depends on the package with Qt's X11 platform plugin" xcb_platform_plugin_is_depended_on
check "the desktop entry is valid and starts the program" desktop_entry_starts_the_binary
check "the desktop entry's icon is installed" desktop_icon_is_installed
check "the AppStream metainfo is valid and names the desktop entry" metainfo_launches_the_desktop_entry
check "no settings folder is installed beside the program" no_settings_folder_is_shipped
check "everything is under /usr and owned by root" everything_is_under_usr_and_owned_by_root
check "lintian reports no error" lintian_reports_no_error
check "the unpacked program keeps its settings in a private per-user folder" keeps_settings_in_the_per_user_folder

echo "$failures failed"
[ "$failures" -eq 0 ]
