#!/bin/bash
# The whole test suite: set-up, build, then every unit and Wine test through
# ctest. Extra arguments go to ctest (-R NAME).
#
# Wine tests spend most of their time waiting on Wine, not on the processor,
# so two run at once, each in a Wine slot of its own: a prefix and a private
# Xvfb display (scripts/wine-env.sh). A display of the caller's own is one
# display, so there the tests run in one slot, one at a time.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
"$here/build.sh"
. "$here/wine-env.sh"
. "$here/xvfb.sh"

xvfb_pids=()
slot_prefixes=("$WINEPREFIX")
cleanup() {
    local p
    for p in "${slot_prefixes[@]}"; do
        WINEPREFIX=$p timeout 30 wineserver -k >/dev/null 2>&1 || true
    done
    for p in "${xvfb_pids[@]}"; do kill "$p" 2>/dev/null || true; done
}
trap cleanup EXIT

start_xvfb
export VELLUM_SLOT_DISPLAY_0=$DISPLAY
[ -n "$VELLUM_XVFB_PID" ] && xvfb_pids+=("$VELLUM_XVFB_PID")
slots=1
if [ "$VELLUM_OWN_DISPLAY" = 0 ]; then
    unset DISPLAY
    start_xvfb
    export VELLUM_SLOT_DISPLAY_1=$DISPLAY
    xvfb_pids+=("$VELLUM_XVFB_PID")
    export DISPLAY=$VELLUM_SLOT_DISPLAY_0
    slot_prefixes+=("$VELLUM_BUILD/wineprefix-$VELLUM_ARCH-slot1")
    slots=2
fi

# Every slot's prefix, made side by side on a first run.
pids=()
for ((i = 0; i < slots; i++)); do
    if [ "$i" = 0 ]; then
        "$here/wine-prefix.sh" & pids+=($!)
    else
        WINEPREFIX_OVERRIDE=${slot_prefixes[$i]} "$here/wine-prefix.sh" & pids+=($!)
    fi
done
for p in "${pids[@]}"; do wait "$p"; done

spec=$VELLUM_BIN/wineslots.json
{
    printf '{"version": {"major": 1, "minor": 0}, "local": [{"wineslot": ['
    for ((i = 0; i < slots; i++)); do
        [ "$i" = 0 ] || printf ', '
        printf '{"id": "%d", "slots": 1}' "$i"
    done
    printf ']}]}\n'
} >"$spec"

cd "$VELLUM_BIN"
ctest --output-on-failure --timeout 900 -j2 --resource-spec-file "$spec" "$@"
