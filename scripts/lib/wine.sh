# Shell functions for running Windows programs under Wine with a throwaway prefix.
# Source this file; call wine_session_start, then wine_session_stop (or let the EXIT trap do it).

wine_environment() {
    export WINEARCH=win64
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
}

# Runs a builtin host program (cscript, regsvr32, reg, ...) of the width BITS, 32 or 64:
#   wine_host BITS PROGRAM [ARGS...]
# With 32-bit Wine installed, plain `wine` is the 32-bit loader and quietly turns system32 into
# SysWOW64, so the width is always named: the 32-bit program from SysWOW64 through `wine`, the
# 64-bit one from system32 through the 64-bit loader. Each width sees its own registry view.
wine_host() {
    local bits=$1 program=$2
    shift 2
    case $bits in
    32) wine "C:\\windows\\syswow64\\$program.exe" "$@" ;;
    64) /usr/lib/wine/wine64 "C:\\windows\\system32\\$program.exe" "$@" ;;
    *)
        echo "wine_host: width '$bits' is neither 32 nor 64" >&2
        return 2
        ;;
    esac
}

# Starts the prefix's server (whose PID we own) and warms it up; without the warm-up, helper
# processes keep ctest's output pipe open.
_wine_server_start() {
    wineserver -f -p </dev/null >/dev/null 2>&1 &
    WINE_SERVER_PID=$!
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

# Creates a fresh prefix, starts its wineserver (whose PID we own) and boots the prefix.
wine_session_start() {
    wine_environment
    WINE_SESSION_DIR=$(mktemp -d /tmp/tollan-wine.XXXXXX)
    export WINEPREFIX=$WINE_SESSION_DIR/prefix
    mkdir -p "$WINEPREFIX"
    _wine_server_start
    # No X server is needed for what runs headless: dialogs still work, nothing is drawn. The
    # desktop process started by the boot has already chosen its driver, so the server starts
    # again once the choice is in the registry.
    if [ -z "${DISPLAY:-}" ]; then
        wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1 || true
        wineserver -k >/dev/null 2>&1 || true
        wait "$WINE_SERVER_PID" 2>/dev/null || true
        _wine_server_start
    fi
    export WINE_SESSION_DIR WINE_SERVER_PID
}

wine_session_stop() {
    [ -n "${WINEPREFIX:-}" ] || return 0
    wineserver -k >/dev/null 2>&1 || true
    if [ -n "${WINE_SERVER_PID:-}" ]; then
        wait "$WINE_SERVER_PID" 2>/dev/null || true
    fi
    [ -n "${WINE_SESSION_DIR:-}" ] && rm -rf "$WINE_SESSION_DIR"
    unset WINEPREFIX WINE_SERVER_PID WINE_SESSION_DIR
}

# Gives the session's prefix the Marlett face of fonts-wine, which draws the caption buttons
# (without it they show as the letters "0 1 r"). Wine 8 as Debian packages it does not load the
# faces in its data folder, only those in the prefix's Fonts folder. Its Tahoma and MS Sans Serif
# stay out: with them the property sheet (MS Shell Dlg) and its pages (MS Sans Serif) would be
# measured in different fonts, which Windows maps to faces of one size.
wine_install_fonts() {
    mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
    cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
}
