#!/usr/bin/env bash
# Installs, builds and runs every test: once in Release (then packages that build and checks the
# package), once with AddressSanitizer and UndefinedBehaviorSanitizer, and once cross-built for
# Windows under wine64.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen
scripts/build.sh
ctest --test-dir build --output-on-failure -j2
scripts/check-package.sh "$(scripts/package.sh)"
scripts/build.sh asan
ASAN_OPTIONS=abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --test-dir build-asan --output-on-failure -j2
windows_start=$(date +%s)
scripts/build-windows.sh
scripts/test-windows.sh
echo "windows: built and tested in $(( $(date +%s) - windows_start )) s"
