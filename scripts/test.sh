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
# The quick tier's copies of single cases (label excerpt) repeat what the
# areas' own tests run: a run that chooses no label or name leaves them out.
select=(-LE excerpt)
for a in "$@"; do
    case $a in -L|-LE|-R|-E|--label-regex|--label-exclude|--tests-regex|--exclude-regex|-L*|-R*) select=() ;; esac
done
ctest --output-on-failure --timeout 900 -j2 "${select[@]}" "$@"
