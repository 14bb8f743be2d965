# A virtual X display of our own. Source this file; xvfb_start SCREEN FOLDER starts Xvfb with
# the screen SCREEN (such as 1024x768x24), waits until it takes connections, and exports DISPLAY;
# xvfb_stop ends it. Xvfb picks a free display number itself and writes it once it listens, so
# two runs at once never share a display, and the first Xvfb on a machine (the slowest) is
# waited for as long as it takes. FOLDER receives the number and what Xvfb printed.
xvfb_start() {
    local screen=$1 folder=$2
    : >"$folder/xvfb.display"
    Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp 3>"$folder/xvfb.display" \
        </dev/null >"$folder/xvfb.log" 2>&1 &
    XVFB_PID=$!
    # A guard against a hang only: the number comes as soon as the display is up.
    local deadline=$((SECONDS + 120))
    until grep -q '^[0-9][0-9]*$' "$folder/xvfb.display"; do
        if ! kill -0 "$XVFB_PID" 2>/dev/null || [ "$SECONDS" -ge "$deadline" ]; then
            echo "Xvfb did not start:" >&2
            sed 's/^/    /' "$folder/xvfb.log" >&2
            return 1
        fi
        sleep 0.1
    done
    export DISPLAY=:$(head -n 1 "$folder/xvfb.display")
}

xvfb_stop() {
    if [ -n "${XVFB_PID:-}" ]; then
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
    fi
    XVFB_PID=
}
