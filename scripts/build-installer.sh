#!/bin/bash
# Builds a release of VellumInstaller.exe from a release engineer's cabinets,
# or checks one (--verify). See the README's section for release engineers.
#   build-installer.sh --cabinets DIR --version X.Y.Z --out FILE [--catalogues DIR]
#                      [--licenses DIR] [--sign PKCS12 --password-file FILE]
#   build-installer.sh --verify FILE
set -eu
here=$(cd "$(dirname "$0")" && pwd)
# The packages it needs (mingw-w64, cmake, gcab, osslsigncode); quick when present.
"$here/bootstrap.sh" >&2
exec python3 "$here/../buildtools/release/build_installer.py" "$@"
