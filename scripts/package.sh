#!/usr/bin/env bash
# Builds the Debian package from the Release build in build/ and prints its path (the only thing
# it prints on standard output).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh >&2
scripts/build.sh >&2
rm -f build/zorvjtag_*.deb
(cd build && cpack -G DEB > /dev/null)
ls build/zorvjtag_*.deb
