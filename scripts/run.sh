#!/bin/bash
# The main job: build, then install with VellumInstaller.exe under Wine. With
# no usable DISPLAY it runs under Xvfb with a robot user and saves screenshots.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/fixed-layout.sh"
"$here/build.sh"
. "$here/wine-env.sh"
. "$here/xvfb.sh"
"$here/wine-prefix.sh"
start_xvfb
trap 'timeout 30 wineserver -k >/dev/null 2>&1 || true; stop_xvfb' EXIT
python3 "$VELLUM_ROOT/tests/harness/run_installer.py" "$@"
