# Pieces of a private run environment, shared by testenv.sh and demo.sh.
# Source this file; the functions set the variables named in their comments.

# Starts an Xvfb display of our own on the first free number from 90.
# Sets DISPLAY and QV_XVFB_PID; returns 1 when no display could be started.
qv_start_display() {
    QV_XVFB_PID=""
    local d
    for d in $(seq 90 140); do
        if [ ! -e "/tmp/.X11-unix/X$d" ] && [ ! -e "/tmp/.X$d-lock" ]; then
            Xvfb ":$d" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
            QV_XVFB_PID=$!
            for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$d" ] && break; sleep 0.05; done
            if kill -0 "$QV_XVFB_PID" 2>/dev/null; then
                export DISPLAY=":$d"
                return 0
            fi
            QV_XVFB_PID=""
        fi
    done
    return 1
}

# The --load argument of a null sink NAME described DESCRIPTION. norewinds=1
# keeps a recording of the sink's monitor intact when a stream starts.
qv_null_sink() { echo "module-null-sink sink_name=$1 norewinds=1 sink_properties=device.description=$2"; }

# Starts a private PulseAudio server under the current XDG_RUNTIME_DIR with
# the modules given as --load arguments, logging to LOG, and waits until it answers.
# usage: qv_start_pulse LOG --load=... [--load=...]
qv_start_pulse() {
    local log=$1
    shift
    pulseaudio -n --daemonize=yes --exit-idle-time=-1 --log-target=stderr \
        "$@" --load="module-native-protocol-unix auth-anonymous=1" 2>"$log"
    for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
}

# Creates the Wine prefix WINEPREFIX on first use and starts its server.
# usage: qv_prepare_wine_prefix LABEL   (LABEL starts the note printed on creation)
qv_prepare_wine_prefix() {
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "$1: creating Wine prefix in $WINEPREFIX" >&2
        "$WINE" wineboot -i >/dev/null 2>&1 || true
    fi
    /usr/lib/wine/wineserver -p >/dev/null 2>&1 || true
    # Start the prefix's services now: started by the first program of a
    # command, they would inherit its output pipes and outlive it, and CTest
    # waits for every holder of a test's output, so that test timed out.
    "$WINE" wineboot </dev/null >/dev/null 2>&1 || true
    # A program that crashes ends with Wine's report on its error output:
    # Wine's crash dialog would wait for a click on the hidden display, and
    # the crashed program, holding its test's output, would hold CTest too.
    "$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
        </dev/null >/dev/null 2>&1 || true
}

# Keeps the prefix's desktop open until the calling shell ends. Wine closes
# the desktop a second after its last program exits and starts it again for
# the next one; a program that starts just as it closes may fail to create its
# windows. Tests start programs one after another, so without this they
# meet that moment now and then. The keeper is a command prompt waiting for
# a line on a pipe that this shell holds open on descriptor 9.
# usage: qv_hold_desktop FOLDER   (FOLDER gets the pipe)
qv_hold_desktop() {
    local pipe="$1/desktop-keeper"
    rm -f "$pipe" && mkfifo "$pipe"
    "$WINE" cmd /c "set /p line=" <"$pipe" >/dev/null 2>&1 &
    exec 9>"$pipe"
}

# Chooses the Wine that runs the build of ARCH: wine64 for x86_64, the 32-bit
# Wine of tools/wine32.sh (with a win32 prefix) for i686. Sets and exports
# WINE, QV_ARCH and, for i686, WINEARCH; returns 1 with a note when no Wine
# for ARCH is there.
# usage: qv_use_arch ARCH LABEL   (LABEL starts the note)
qv_use_arch() {
    case "$1" in
    x86_64) export WINE=/usr/lib/wine/wine64 ;;
    i686)
        WINE=$(bash "$(dirname "${BASH_SOURCE[0]}")/wine32.sh" loader) ||
            { echo "$2: no 32-bit Wine is set up (tools/setup.sh sets one up)" >&2; return 1; }
        export WINE WINEARCH=win32
        ;;
    *) echo "$2: unknown architecture $1" >&2; return 1 ;;
    esac
    export QV_ARCH=$1
}

# The architecture a user's command runs by default: i686, the build users
# install, where this machine runs 32-bit programs; x86_64 otherwise.
qv_default_arch() {
    if bash "$(dirname "${BASH_SOURCE[0]}")/wine32.sh" can-run; then echo i686; else echo x86_64; fi
}
