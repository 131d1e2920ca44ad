#!/bin/bash
# Runs one Wine test's command in a Wine slot of its own: a prefix and an X
# display that no other test uses while it runs, because a test ends the
# processes of its prefix and types into its display. ctest runs the Wine
# tests through this script.
#
# VELLUM_SLOTS (scripts/test.sh exports it; default 1) is how many slots there
# are; slot 0 is the usual prefix (build/wineprefix-<arch>), slot N the prefix
# build/wineprefix-<arch>-slotN, with the display VELLUM_SLOT_DISPLAY_N when
# given. A slot is held by an flock on build/wineslot-N.lock for the command's
# whole run; the lock goes with this script's end, however it ends, and the
# command's own processes (a wineserver that lingers included) never hold it.
# Without a free slot the command waits for one, so `ctest -jN` never puts two
# tests in one prefix.
set -u
. "$(dirname "$0")/wine-env.sh" || exit 1

slots=${VELLUM_SLOTS:-1}
case $slots in [1-9]) ;; *) echo "in-slot: VELLUM_SLOTS must be 1-9, not '$slots'" >&2; exit 1 ;; esac

held=
while [ -z "$held" ]; do
    for ((n = 0; n < slots; n++)); do
        exec {fd}>>"$VELLUM_BUILD/wineslot-$n.lock" || exit 1
        if flock -n "$fd"; then held=$n; break; fi
        exec {fd}>&-
    done
    # ctest's time limit ends a wait that never finds a free slot.
    [ -n "$held" ] || sleep 0.2
done

if [ "$held" != 0 ]; then
    export WINEPREFIX_OVERRIDE=$VELLUM_BUILD/wineprefix-$VELLUM_ARCH-slot$held
fi
export WINEPREFIX=${WINEPREFIX_OVERRIDE:-$WINEPREFIX}
eval "display=\${VELLUM_SLOT_DISPLAY_$held:-}"
[ -n "$display" ] && export DISPLAY=$display
export VELLUM_SLOT=$held

# Every Wine test appends to one trace (tests/harness/winetest.py): the
# programs it starts and ends, the kills and session ends it asks for.
export VELLUM_WINE_TRACE=${VELLUM_WINE_TRACE:-$VELLUM_BUILD/wine-trace.log}
trace() { printf '%s slot=%s sh=%d %s\n' "$(date +%s.%3N)" "$held" $$ "$*" >>"$VELLUM_WINE_TRACE"; }
trace "take ${*: -1}"

# The test starts in a Wine session of its own: what the slot's previous test
# left (a server that serves its client's last calls, a child its killed
# script was creating) would otherwise share the session with this test's
# first programs. wineserver -k ends that session; -w waits for its end.
if timeout 60 wineserver -k >/dev/null 2>&1 {fd}>&-; then
    trace "ended the session the slot's previous test left"
fi
timeout 60 wineserver -w >/dev/null 2>&1 {fd}>&-

# The command runs without the lock's descriptor.
"$@" {fd}>&-
rc=$?
trace "free rc=$rc"
exit $rc
