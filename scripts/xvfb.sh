# Sourced: starts Xvfb on a free display unless DISPLAY is already usable,
# exports DISPLAY, and records the PID in VELLUM_XVFB_PID for stop_xvfb.
start_xvfb() {
    VELLUM_XVFB_PID=
    local d=${DISPLAY:-}; d=${d#*:}; d=${d%%.*}
    if [ -n "$d" ] && [ -e /tmp/.X11-unix/X$d ]; then export VELLUM_OWN_DISPLAY=1; return 0; fi
    export VELLUM_OWN_DISPLAY=0
    local n
    for n in $(seq 91 140); do
        [ -e /tmp/.X$n-lock ] && continue
        Xvfb :$n -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
        VELLUM_XVFB_PID=$!
        for _ in $(seq 1 50); do
            # The display is ours only when its lock names our server: when
            # another run chose the same number at the same moment, its
            # socket appears while our server is refused.
            if [ -e /tmp/.X11-unix/X$n ] && [ "$(tr -d ' \n' </tmp/.X$n-lock 2>/dev/null)" = "$VELLUM_XVFB_PID" ]; then
                export DISPLAY=:$n
                return 0
            fi
            kill -0 $VELLUM_XVFB_PID 2>/dev/null || break
            sleep 0.1
        done
        kill $VELLUM_XVFB_PID 2>/dev/null
    done
    echo "xvfb: no free display" >&2
    return 1
}
stop_xvfb() {
    [ -n "${VELLUM_XVFB_PID:-}" ] && kill "$VELLUM_XVFB_PID" 2>/dev/null
    VELLUM_XVFB_PID=
}
