#!/bin/bash
# The whole test suite: set-up, build, then every unit and Wine test through
# ctest. Extra arguments go to ctest (-R NAME).
#
# Wine tests run two at a time, each in a Wine slot of its own (a prefix and
# a private Xvfb display, scripts/in-slot.sh): they spend most of their time
# waiting on Wine rather than on the processor. VELLUM_SLOTS=1 runs them one
# at a time, as does a display of the caller's own (DISPLAY usable): one slot
# on that display. Every program the Wine tests start, its end and every
# kill they ask for are listed in build/wine-trace.log (emptied here).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/fixed-layout.sh"
"$here/build.sh"
. "$here/wine-env.sh"
. "$here/xvfb.sh"

xvfb_pids=()
prefixes=("$WINEPREFIX")
cleanup() {
    local p
    for p in "${prefixes[@]}"; do
        WINEPREFIX=$p timeout 30 wineserver -k >/dev/null 2>&1 || true
    done
    for p in "${xvfb_pids[@]}"; do kill "$p" 2>/dev/null || true; done
}
trap cleanup EXIT

rm -f "$VELLUM_BUILD/wine-trace.log"
start_xvfb
export VELLUM_SLOT_DISPLAY_0=$DISPLAY
[ -n "$VELLUM_XVFB_PID" ] && xvfb_pids+=("$VELLUM_XVFB_PID")
slots=1
if [ "$VELLUM_OWN_DISPLAY" = 0 ] && [ "${VELLUM_SLOTS:-2}" = 2 ]; then
    unset DISPLAY
    start_xvfb
    export VELLUM_SLOT_DISPLAY_1=$DISPLAY
    xvfb_pids+=("$VELLUM_XVFB_PID")
    export DISPLAY=$VELLUM_SLOT_DISPLAY_0
    prefixes+=("$VELLUM_BUILD/wineprefix-$VELLUM_ARCH-slot1")
    slots=2
fi
export VELLUM_SLOTS=$slots

# Every slot's prefix, made side by side on a first run.
pids=()
for p in "${prefixes[@]}"; do
    WINEPREFIX_OVERRIDE=$p "$here/wine-prefix.sh" & pids+=($!)
done
for p in "${pids[@]}"; do wait "$p"; done

# With one slot the Wine tests share a ctest lock, so ctest's other job runs
# host tests beside the slot; the build remembers the count it was set up for.
if ! grep -qx "VELLUM_WINE_SLOTS:STRING=$slots" "$VELLUM_BIN/CMakeCache.txt"; then
    cmake -DVELLUM_WINE_SLOTS="$slots" "$VELLUM_BIN" >"$VELLUM_BUILD/configure-slots.log" \
        || { cat "$VELLUM_BUILD/configure-slots.log"; exit 1; }
fi

cd "$VELLUM_BIN"
# The quick tier's copies of single cases (label excerpt) repeat what the
# areas' own tests run: a run that chooses no label or name leaves them out.
select=(-LE excerpt)
for a in "$@"; do
    case $a in -L|-LE|-R|-E|--label-regex|--label-exclude|--tests-regex|--exclude-regex|-L*|-R*) select=() ;; esac
done
ctest --output-on-failure --timeout 900 -j2 "${select[@]}" "$@"
