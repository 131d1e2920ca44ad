#!/bin/bash
# Runs one Windows program in the project's prefix with a time limit
# (VELLUM_TIMEOUT seconds, default 300). Used as CMake's cross-compiling
# emulator, so ctest runs the unit tests through it.
. "$(dirname "$0")/fixed-layout.sh"
. "$(dirname "$0")/wine-env.sh"
"$(dirname "$0")/wine-prefix.sh" || exit 1
exec timeout -k 5 "${VELLUM_TIMEOUT:-300}" "$WINELOADER" "$@"
