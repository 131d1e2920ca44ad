#!/bin/bash
# Configures and builds the project: the i686 shipping build always, and the
# architecture the Wine tests run (the same one where the host can run it).
set -eu
"$(dirname "$0")/bootstrap.sh"
. "$(dirname "$0")/wine-env.sh"

build_arch() {
    local arch=$1 dir=$VELLUM_BUILD/$1
    # The makefile is written last: a configure that failed left a cache
    # without one, and runs again.
    if [ ! -f "$dir/Makefile" ]; then
        cmake -S "$VELLUM_ROOT" -B "$dir" -G "Unix Makefiles" \
              -DCMAKE_TOOLCHAIN_FILE="$VELLUM_ROOT/cmake/toolchain-$arch.cmake" >"$VELLUM_BUILD/configure-$arch.log" \
            || { cat "$VELLUM_BUILD/configure-$arch.log"; return 1; }
    fi
    cmake --build "$dir" -j"$(nproc)" -- --no-print-directory >"$VELLUM_BUILD/build-$arch.log" 2>&1 \
        || { tail -60 "$VELLUM_BUILD/build-$arch.log"; echo "build: $arch failed (log: $VELLUM_BUILD/build-$arch.log)" >&2; return 1; }
    echo "build: $arch ok ($dir)" >&2
}

# Object files come from the compiler cache when the same source was built
# before, in this tree or in another clone (paths taken relative to the root).
if command -v ccache >/dev/null 2>&1; then
    export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}
    export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$VELLUM_ROOT}
fi

mkdir -p "$VELLUM_BUILD"
build_arch i686
[ "$VELLUM_ARCH" = i686 ] || build_arch "$VELLUM_ARCH"
