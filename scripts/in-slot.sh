#!/bin/bash
# Runs a Wine test's command in the Wine slot ctest gave it (wine-env.sh sets
# WINEPREFIX_OVERRIDE and DISPLAY for the slot; the test harness reads both).
. "$(dirname "$0")/wine-env.sh" || exit 1
exec "$@"
