#!/bin/bash
# The main job: build, then run VellumInstaller.exe under Wine. With no usable
# DISPLAY it runs under Xvfb and saves a screenshot of the launcher.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
"$here/build.sh"
. "$here/wine-env.sh"
. "$here/xvfb.sh"
"$here/wine-prefix.sh"
start_xvfb
trap 'timeout 30 wineserver -k >/dev/null 2>&1 || true; stop_xvfb' EXIT
exec python3 "$VELLUM_ROOT/tests/harness/run_installer.py" "$@"
