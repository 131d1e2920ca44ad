#!/bin/bash
# Builds what the benchmarks need (both architectures: sizes are measured on
# the i686 shipping build, timings on the build this host runs) and prints
# the table. Extra arguments go to bench.py (--rounds N, --only a,b).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../scripts/fixed-layout.sh"
"$here/../scripts/bootstrap.sh"  # makensis builds the peer
. "$here/../scripts/wine-env.sh"
for arch in i686 "$VELLUM_ARCH"; do
    dir=$VELLUM_BUILD/$arch
    [ -f "$dir/CMakeCache.txt" ] || "$here/../scripts/build.sh"
    cmake --build "$dir" -j"$(nproc)" --target VellumInstaller bench_programs \
        $(grep -q '^VellumSetup:' "$dir/Makefile" 2>/dev/null && echo VellumSetup) >/dev/null
    [ "$arch" = "$VELLUM_ARCH" ] && break
done
exec python3 "$here/bench.py" "$@"
