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
# The zip holds the program, its README, the board files it ships and the notices of what the
# program carries, and nothing else (the tests' stand-in DLL above all).
zip=$(scripts/package-windows.sh)
unzip -l "$zip"
diff <(unzip -Z1 "$zip" | grep -v '/$' | sed 's|^[^/]*/||' | LC_ALL=C sort) \
  <(printf '%s\n' README.txt boards/ika.toml boards/obrin.toml boards/tqr2400.toml boards/veskar.toml \
    licences/CLI11.txt licences/gcc-mingw-w64.txt licences/mingw-w64.txt licences/toml++.txt zorvjtag.exe)
echo "windows: built and tested in $(( $(date +%s) - windows_start )) s"
