#!/bin/sh
# Installs every Debian package the project needs. Idempotent: when all are
# present it only checks and returns, so every entry point may call it first.
set -eu

PKGS="cmake make mingw-w64 mingw-w64-tools libwine-dev wine wine32:i386 wine64 \
xvfb xauth xdotool x11-utils imagemagick googletest gcab python3 fonts-wqy-microhei \
nsis osslsigncode openssl ccache"

# One query for all: every release build and test entry point passes here,
# and a query per package costs half a second each time.
installed=" $(dpkg-query -W -f='${binary:Package} ${Status}\n' $PKGS 2>/dev/null |
    sed -n 's/ install ok installed$//p' | tr '\n' ' ')"
missing=""
for p in $PKGS; do
    case "$installed" in
        *" $p "* | *" $p:"*) ;;  # a package of the native architecture may carry its name
        *) missing="$missing $p" ;;
    esac
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" != 0 ]; then
    echo "bootstrap: missing packages:$missing (run as root to install them)" >&2
    exit 1
fi
echo "bootstrap: installing$missing" >&2
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
apt-get update -q >/dev/null
apt-get install -y -q --no-install-recommends $missing >/dev/null
