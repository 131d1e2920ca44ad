# Sourced by every script that runs Windows programs. Chooses the Windows
# architecture this host can execute and points Wine at the project's private
# prefix under the build tree (never ~/.wine).
#
# Test architecture: the shipping build is i686. Where the host kernel cannot
# run 32-bit code (some virtual machines lack the 32-bit compatibility mode, so
# Wine's 32-bit loader fails with "Exec format error"), the same sources built
# for x86_64 are what run under a 64-bit prefix. VELLUM_ARCH overrides.

VELLUM_ROOT=${VELLUM_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]:-$0}")/.." && pwd)}
VELLUM_BUILD=${VELLUM_BUILD:-$VELLUM_ROOT/build}

if [ -z "${VELLUM_ARCH:-}" ]; then
    if /usr/lib/wine/wine --version >/dev/null 2>&1; then
        VELLUM_ARCH=i686
    else
        VELLUM_ARCH=x86_64
    fi
fi
if [ "$VELLUM_ARCH" = i686 ]; then
    export WINEARCH=win32
    export WINELOADER=/usr/lib/wine/wine
else
    export WINEARCH=win64
    export WINELOADER=/usr/lib/wine/wine64
fi
export VELLUM_ARCH VELLUM_ROOT VELLUM_BUILD
export VELLUM_BIN=$VELLUM_BUILD/$VELLUM_ARCH
export WINEPREFIX=${WINEPREFIX_OVERRIDE:-$VELLUM_BUILD/wineprefix-$VELLUM_ARCH}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
