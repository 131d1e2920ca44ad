#!/bin/bash
# The whole test suite: set-up, build, then every unit and Wine test through
# ctest, under a private Xvfb display. Extra arguments go to ctest (-R NAME).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
"$here/build.sh"
. "$here/wine-env.sh"
. "$here/xvfb.sh"
"$here/wine-prefix.sh"
start_xvfb
cleanup() { timeout 30 wineserver -k >/dev/null 2>&1 || true; stop_xvfb; }
trap cleanup EXIT
cd "$VELLUM_BIN"
ctest --output-on-failure --timeout 900 -j2 "$@"
