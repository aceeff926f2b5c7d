# Sourced by test.sh after scripts/services.sh: a Wine server kept running for the Windows tests,
# so that each program start takes a fraction of a second instead of several.

NOVA31_WINE_SERVER_STARTED=0

# nova31_start_wine: prepares the private prefix (scripts/wine-run.sh) and starts a persistent
# wineserver for it. Needs DISPLAY: Wine's desktop process binds to the display of its first start.
nova31_start_wine() {
    local root
    root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
    export NOVA31_WINE_DIR="${NOVA31_WINE_DIR:-$root/build-windows/wine}"
    mkdir -p "$NOVA31_WINE_DIR/prefix"
    # The server and the Wine services that the first program starts outlive this shell's
    # commands: they must not hold its output open (a pipe reading it would never end).
    WINEPREFIX="$NOVA31_WINE_DIR/prefix" wineserver -p </dev/null >/dev/null 2>&1
    NOVA31_WINE_SERVER_STARTED=1
    "$root/scripts/wine-run.sh" cmd /c exit 0 </dev/null >/dev/null 2>&1
    echo "Started a persistent Wine server ($NOVA31_WINE_DIR/prefix)"
}

# nova31_stop_wine: ends the server and every Wine process of the prefix.
nova31_stop_wine() {
    if ((NOVA31_WINE_SERVER_STARTED)); then
        WINEPREFIX="$NOVA31_WINE_DIR/prefix" wineserver -k 2>/dev/null || true
        WINEPREFIX="$NOVA31_WINE_DIR/prefix" wineserver -w 2>/dev/null || true
        NOVA31_WINE_SERVER_STARTED=0
    fi
}
