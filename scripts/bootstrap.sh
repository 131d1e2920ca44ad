#!/bin/sh
# Installs every Debian package the project needs. Idempotent: when all are
# present it only checks and returns, so every entry point may call it first.
set -eu

PKGS="cmake make mingw-w64 mingw-w64-tools libwine-dev wine wine64 \
xvfb xauth xdotool x11-utils imagemagick googletest gcab python3 fonts-wqy-microhei \
nsis osslsigncode openssl ccache"
# Wine's 32-bit loader runs the shipping i686 build. Without it the tests
# run the x86_64 build of the same sources (scripts/wine-env.sh), as on a
# host whose kernel cannot run 32-bit code: so a mirror whose i386 lists
# cannot be used fails nothing, and is not asked again until the next boot.
PKGS32="wine32:i386"
NO32=/run/vellum-bootstrap-no-wine32

# One query for all: every release build and test entry point passes here,
# and a query per package costs half a second each time.
installed=" $(dpkg-query -W -f='${binary:Package} ${Status}\n' $PKGS $PKGS32 2>/dev/null |
    sed -n 's/ install ok installed$//p' | tr '\n' ' ')"
absent() {
    for p in "$@"; do
        case "$installed" in
            *" $p "* | *" $p:"*) ;;  # a package of the native architecture may carry its name
            *) printf ' %s' "$p" ;;
        esac
    done
}
missing=$(absent $PKGS)
missing32=$(absent $PKGS32)
[ -e "$NO32" ] && missing32=""
[ -z "$missing$missing32" ] && exit 0

if [ "$(id -u)" != 0 ]; then
    echo "bootstrap: missing packages:$missing$missing32 (run as root to install them)" >&2
    [ -n "$missing" ] && exit 1
    exit 0
fi
echo "bootstrap: installing$missing$missing32" >&2
export DEBIAN_FRONTEND=noninteractive

# A mirror in the middle of a sync fails an index or a download now and
# then: fetch again a little later. An index that still fails leaves the
# older lists in use; only the install itself decides.
install() {
    attempt=1
    while :; do
        apt-get update -q >/dev/null ||
            echo "bootstrap: some package lists were not fetched (attempt $attempt)" >&2
        apt-get install -y -q --no-install-recommends "$@" >/dev/null && return 0
        [ "$attempt" -ge 3 ] && return 1
        attempt=$((attempt + 1))
        sleep 30
    done
}

if [ -n "$missing" ] && ! install $missing; then
    echo "bootstrap: installing$missing failed" >&2
    exit 1
fi
if [ -n "$missing32" ]; then
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    if ! install $missing32; then
        : >"$NO32"
        echo "bootstrap:$missing32 could not be installed; the tests run the x86_64 build" >&2
    fi
fi
