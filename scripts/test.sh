#!/usr/bin/env bash
# Installs, builds and runs every test: once in Release (then packages that build and checks the
# package), once with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen
scripts/build.sh
ctest --test-dir build --output-on-failure -j2
scripts/check-package.sh "$(scripts/package.sh)"
scripts/build.sh asan
ASAN_OPTIONS=abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --test-dir build-asan --output-on-failure -j2
