#!/usr/bin/env bash
# The release packages.
#
# What users get: the zip and the 32-bit installer hold the i686 build's
# plug-ins, PE32 and byte for byte.
#
# What the installer does: on the i686 build, the very setup.exe that users
# get runs silently under the 32-bit Wine (byte for byte what `make package`
# writes to dist/); where only the x86_64 build can run, the same script
# built as the 64-bit test installer around it runs under wine64. It finds the
# player's folder through the registry, closes a running player before it
# copies anything, installs exactly the plug-ins and its uninstaller, and
# writes the Add/Remove Programs entry; the installed output plug-in plays in
# the stand-in player; the uninstaller closes the player too, removes exactly
# what was installed, and keeps the user's settings unless asked.
#
# usage: install.sh BUILD_DIR I686_BUILD_DIR   (inside tools/testenv.sh; BUILD_DIR
#        is the build under test, the i686 build itself in the i686 half)
#
# The installers run in a Wine prefix of their own, so that neither their
# registry entries nor their search for the player's window can meet another
# test's stand-in player.
source "$(dirname "$0")/../e2e/lib.sh"
ROOT=$(cd "$E2E_DIR/../.." && pwd)
source "$ROOT/tools/envlib.sh"
[ $# -eq 2 ] || fail "usage: $0 BUILD_DIR I686_BUILD_DIR"
I686=$(realpath "$2")
RUNNING_PLAYER="$BUILD/tests/package/running_player.exe"
mapfile -t PLUGINS < <(bash "$ROOT/tools/package.sh" --list)
VERSION=$(bash "$ROOT/tools/package.sh" --version)
UNINSTALLER=qvquellspring-uninstall.exe
SETTINGS_FILE=QVQuellspring.ini
OUR_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\QVQuellspring'
PLAYER_UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Winamp'
PLAYER_KEYS=('HKCU\Software\Winamp' 'HKLM\Software\Winamp' "$PLAYER_UNINSTALL_KEY")
RUNNING_PID=""

export WINEPREFIX="$BUILD/tests/package/wineprefix"
cleanup_package() {
    /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
    cleanup_e2e
}
trap cleanup_package EXIT

# The files an install adds to the player's folder, relative to it.
installed_files() {
    printf 'Plugins/%s\n' "${PLUGINS[@]}"
    echo "$UNINSTALLER"
}

# A Windows path with backslashes, as a user or the registry writes it.
winpath_bs() { local p="Z:$1"; echo "${p//\//\\}"; }

wine_quiet() { "$WINE" "$@" >>"$WORK/wine.txt" 2>&1; }

reg_set() { # KEY VALUE DATA; VALUE "" is the key's default value
    if [ -z "$2" ]; then
        wine_quiet reg add "$1" /ve /d "$3" /f || fail "reg add $1"
    else
        wine_quiet reg add "$1" /v "$2" /d "$3" /f || fail "reg add $1 /v $2"
    fi
}

reg_value() { # KEY VALUE: prints the data of a string value
    "$WINE" reg query "$1" /v "$2" 2>/dev/null </dev/null | tr -d '\r' |
        sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}

# One regedit run for all of them: every Wine start costs most of a second.
clear_player_keys() {
    local key
    {
        printf 'REGEDIT4\r\n\r\n'
        for key in "${PLAYER_KEYS[@]}" "$OUR_KEY"; do
            key=${key/#HKCU/HKEY_CURRENT_USER}
            printf '[-%s]\r\n' "${key/#HKLM/HKEY_LOCAL_MACHINE}"
        done
    } >"$WORK/clear.reg"
    wine_quiet regedit /S "$(winpath_bs "$WORK/clear.reg")" || fail "regedit could not clear the keys"
}

# A player's folder with files of its own: they must come out of every
# install and uninstall untouched.
make_player() { # DIR [--no-plugins-folder]
    mkdir -p "$1"
    cp "$RUNNING_PLAYER" "$1/winamp.exe"
    printf '[Winamp]\r\noutname=out_wave.dll\r\n' >"$1/winamp.ini"
    [ "${2:-}" = --no-plugins-folder ] && return 0
    mkdir -p "$1/Plugins"
    printf 'the input plug-in of the player' >"$1/Plugins/in_wave.dll"
    printf 'the output plug-in of the player' >"$1/Plugins/out_wave.dll"
}

# The user's settings, where the plug-in keeps them and where it used to.
add_user_settings() {
    printf '[Quellspring]\r\nOutDevice=QVQ_Sink\r\n' >"$1/Plugins/$SETTINGS_FILE"
    printf '[Quellspring]\r\nOutDevice=QVQ_Other\r\n' >"$1/$SETTINGS_FILE"
}

# Every file under DIR with its checksum, by relative path.
snapshot() { (cd "$1" && find . -type f -printf '%P\0' | LC_ALL=C sort -z | xargs -0 -r sha1sum); }

# A snapshot without the lines of the installed files.
without_installed() { awk 'NR == FNR { ours[$0]; next } !(substr($0, 43) in ours)' <(installed_files) - <<<"$1"; }

# The names in a snapshot's Plugins folder, as the running player reports them.
plugin_names() { sed -n 's/^[0-9a-f]*  Plugins\///p' <<<"$1" | paste -sd' '; }

# Fails unless DIR now holds the snapshot BEFORE and the installed files,
# nothing else, and the plug-ins as built in DLL_DIR.
expect_installed() { # DIR BEFORE DLL_DIR
    local dir=$1 before=$2 dll_dir=$3 file name
    diff <(echo "$before") <(without_installed "$(snapshot "$dir")") >&2 ||
        fail "the install changed other files than its own in $dir"
    while read -r file; do [ -f "$dir/$file" ] || fail "$dir/$file was not installed"; done < <(installed_files)
    for name in "${PLUGINS[@]}"; do
        cmp "$dll_dir/$name" "$dir/Plugins/$name" || fail "Plugins/$name differs from the build's"
    done
}

# Fails unless the uninstall left DIR as BEFORE_UNINSTALL without the
# installed files.
expect_uninstalled() { # DIR BEFORE_UNINSTALL
    diff <(without_installed "$2") <(snapshot "$1") >&2 ||
        fail "the uninstaller did not remove exactly the installed files from $1"
}

# Starts the running player on DIR and waits until its window exists.
start_running_player() {
    "$WINE" "$RUNNING_PLAYER" "$(winpath_bs "$1")" >"$WORK/running.txt" 2>&1 &
    RUNNING_PID=$!
    for _ in $(seq 600); do
        grep -q '^ready' "$WORK/running.txt" && return 0
        kill -0 "$RUNNING_PID" 2>/dev/null || { cat "$WORK/running.txt" >&2; fail "the running player ended early"; }
        sleep 0.1
    done
    fail "the running player's window did not appear"
}

# Fails unless the running player has ended, asked by the installer, and its
# Plugins folder at its end held the files listed in EXPECTED (sorted names).
expect_player_closed_before_changes() { # EXPECTED
    for _ in $(seq 300); do
        kill -0 "$RUNNING_PID" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$RUNNING_PID" 2>/dev/null && fail "the running player was not closed"
    wait "$RUNNING_PID" || fail "the running player exited with $?"
    RUNNING_PID=""
    tr -d '\r' <"$WORK/running.txt" >"$WORK/running.log"
    grep -qx 'closed' "$WORK/running.log" || { cat "$WORK/running.log" >&2; fail "the running player did not close"; }
    local at_exit
    at_exit=$(sed -n 's/^plugins at exit: *//p' "$WORK/running.log")
    [ "$at_exit" = "$1" ] ||
        fail "the Plugins folder changed while the player ran: [$at_exit], expected [$1]"
}

run_setup() {
    echo "+ setup $* (at ${SECONDS}s)" >&2
    "$WINE" "$TEST_SETUP" "$@" >"$WORK/setup.txt" 2>&1 || fail "the installer exited with $?"
}

# Runs the uninstaller in DIR and waits for it: it starts a copy of itself
# from the temporary folder and returns at once; that copy removes the
# Add/Remove Programs entry as its last step.
run_uninstaller() { # DIR ARGS...
    local dir=$1
    shift
    echo "+ uninstall $* (at ${SECONDS}s)" >&2
    "$WINE" "$dir/$UNINSTALLER" "$@" >"$WORK/uninstall.txt" 2>&1 || fail "the uninstaller exited with $?"
    local deadline=$((SECONDS + 90))
    while [ $SECONDS -lt $deadline ]; do
        wine_quiet reg query "$OUR_KEY" || return 0
        sleep 0.2
    done
    fail "the uninstall entry is still there"
}

# --- What users get -------------------------------------------------------
bash "$ROOT/tools/package.sh" "$I686" "$WORK/dist" >&2 || fail "packaging the i686 build"
ZIP="$WORK/dist/qvquellspring-$VERSION.zip"
SETUP="$WORK/dist/qvquellspring-$VERSION-setup.exe"

[ "$(7z l -slt "$ZIP" | sed -n 's/^Path = //p' | tail -n +2 | LC_ALL=C sort)" = \
    "$(printf '%s\n' "${PLUGINS[@]}" LICENSE.txt README.txt | LC_ALL=C sort)" ] ||
    { 7z l "$ZIP" >&2; fail "the zip holds other files than the plug-ins, README.txt and LICENSE.txt"; }

x86_64-w64-mingw32-objdump -f "$SETUP" | grep -q 'file format pei-i386' || fail "$SETUP is not a 32-bit program"
7z l "$SETUP" >"$WORK/setup-list.txt" || fail "7z cannot list $SETUP"
cat "$WORK/setup-list.txt" >&2
mkdir -p "$WORK/from-setup" "$WORK/from-zip"
for name in "${PLUGINS[@]}"; do
    grep -q " Plugins/$name\$" "$WORK/setup-list.txt" || fail "the installer does not list Plugins/$name"
    7z e -so "$SETUP" "Plugins/$name" >"$WORK/from-setup/$name" 2>/dev/null || fail "extracting $name"
    7z e -so "$ZIP" "$name" >"$WORK/from-zip/$name" 2>/dev/null || fail "extracting $name from the zip"
    for copy in "$WORK/from-setup/$name" "$WORK/from-zip/$name"; do
        x86_64-w64-mingw32-objdump -f "$copy" | grep -q 'file format pei-i386' || fail "$copy is not PE32"
        cmp "$I686/$name" "$copy" || fail "$copy differs from $I686/$name"
    done
done

# --- What the installer does ----------------------------------------------
echo "+ prefix (at ${SECONDS}s)" >&2
qv_prepare_wine_prefix package_install
if [ "$BUILD" = "$I686" ]; then
    TEST_SETUP=$SETUP
    shipped="$ROOT/dist/$(basename "$SETUP")"
    if [ -f "$shipped" ] && [ "$shipped" -nt "$I686/out_qvquellspring.dll" ]; then
        cmp "$shipped" "$SETUP" || fail "the installer tested differs from $shipped"
        echo "+ the installer tested is $shipped byte for byte" >&2
    fi
else
    bash "$ROOT/tools/package.sh" --test-amd64 "$BUILD" "$WORK/dist" >&2 || fail "packaging the x86_64 build"
    TEST_SETUP="$WORK/dist/qvquellspring-$VERSION-test-amd64-setup.exe"
fi
echo "+ installer under test: $(basename "$TEST_SETUP") (at ${SECONDS}s)" >&2
clear_player_keys

# Found through HKCU, which wins over HKLM; the player runs and is closed first.
main=$WORK/player-main
decoy=$WORK/player-decoy
make_player "$main"
make_player "$decoy"
reg_set 'HKCU\Software\Winamp' "" "$(winpath_bs "$main")"
reg_set 'HKLM\Software\Winamp' "" "$(winpath_bs "$decoy")"
main_before=$(snapshot "$main")
decoy_before=$(snapshot "$decoy")
start_running_player "$main"
run_setup /S
expect_player_closed_before_changes "$(plugin_names "$main_before")"
expect_installed "$main" "$main_before" "$BUILD"
[ "$(snapshot "$decoy")" = "$decoy_before" ] || fail "the install touched the folder HKLM names"

shown_version=$(reg_value "$OUR_KEY" DisplayVersion)
[ "$shown_version" = "$VERSION" ] || {
    # Seen once in many runs: what the key and the installer showed then.
    "$WINE" reg query "$OUR_KEY" </dev/null >&2 2>&1
    cat "$WORK/setup.txt" >&2
    fail "DisplayVersion is '$shown_version', not $VERSION"
}
[ "$(reg_value "$OUR_KEY" InstallLocation)" = "$(winpath_bs "$main")" ] || fail "InstallLocation"
[ "$(reg_value "$OUR_KEY" UninstallString)" = "\"$(winpath_bs "$main")\\$UNINSTALLER\"" ] ||
    fail "UninstallString is $(reg_value "$OUR_KEY" UninstallString)"
[ -n "$(reg_value "$OUR_KEY" DisplayName)" ] || fail "no DisplayName"

# The player plays with the installed output plug-in; its settings appear
# beside the player's settings file.
PLUGIN="$main/Plugins/out_qvquellspring.dll"
play --settings-dir "$(winpath_bs "$main")" --no-device --quiet --tone 1
expect_line '^plugin: .*player-main[/\\]Plugins[/\\]out_qvquellspring\.dll '
expect "abs(audio_ms - 1000) <= 1" "output_ms >= 900"
grep -q '^PlaybackFudgeFactor=' "$main/Plugins/$SETTINGS_FILE" ||
    fail "the installed plug-in kept no settings beside the player's"

# The uninstaller closes the player too, and keeps the user's settings.
played=$(snapshot "$main")
start_running_player "$main"
run_uninstaller "$main" /S
expect_player_closed_before_changes "$(plugin_names "$played")"
expect_uninstalled "$main" "$played"

# The other ways to the player's folder, each installed into and uninstalled:
#   registry entries | setup arguments | folder that gets the plug-ins | uninstaller arguments | user settings afterwards
# An entry naming a folder that no longer exists is passed over; /D= wins
# over the registry; a Plugins folder that the install made goes with it.
lookup_case() { # NAME FOLDER SETTINGS(kept|removed) UNINSTALL_ARGS [SETUP_ARGS...]
    local name=$1 dir=$2 settings=$3 uninstall_args=$4 before installed
    shift 4
    echo "+ case: $name (at ${SECONDS}s)" >&2
    before=$(snapshot "$dir")
    run_setup /S "$@"
    expect_installed "$dir" "$before" "$BUILD"
    installed=$(snapshot "$dir")
    # shellcheck disable=SC2086 # the arguments are words
    run_uninstaller "$dir" /S $uninstall_args
    if [ "$settings" = kept ]; then
        expect_uninstalled "$dir" "$installed"
    else
        expect_uninstalled "$dir" "$(grep -v "  \(Plugins/\)\?$SETTINGS_FILE\$" <<<"$installed")"
    fi
}

clear_player_keys
make_player "$WORK/player-b"
add_user_settings "$WORK/player-b"
reg_set 'HKCU\Software\Winamp' "" "$(winpath_bs "$WORK/uninstalled-player")"
reg_set 'HKLM\Software\Winamp' "" "$(winpath_bs "$WORK/player-b")"
lookup_case "a stale HKCU entry, HKLM's" "$WORK/player-b" kept ""

clear_player_keys
make_player "$WORK/player-c"
add_user_settings "$WORK/player-c"
reg_set "$PLAYER_UNINSTALL_KEY" UninstallString "\"$(winpath_bs "$WORK/player-c")\\UninstWA.exe\" /S"
lookup_case "the player's uninstall entry, UninstallString" "$WORK/player-c" removed /RemoveSettings

clear_player_keys
make_player "$WORK/player-d"
make_player "$WORK/player-e" --no-plugins-folder
reg_set "$PLAYER_UNINSTALL_KEY" InstallLocation "$(winpath_bs "$WORK/player-d")"
d_before=$(snapshot "$WORK/player-d")
lookup_case "/D= over the registry" "$WORK/player-e" kept "" "/D=$(winpath_bs "$WORK/player-e")"
[ ! -e "$WORK/player-e/Plugins" ] || fail "the Plugins folder that the install made is still there"
[ "$(snapshot "$WORK/player-d")" = "$d_before" ] || fail "the install touched the folder the registry names"

# The InstallLocation of the player's uninstall entry, with /D= gone.
lookup_case "the player's uninstall entry, InstallLocation" "$WORK/player-d" kept ""
clear_player_keys
echo "package_install: all checks passed"
