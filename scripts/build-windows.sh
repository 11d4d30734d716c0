#!/usr/bin/env bash
# Cross-builds zorvjtag.exe (static, one file) and the core tests for 64-bit Windows into
# build-windows/bin, installing the cross compiler, wine and googletest's sources when missing
# (Debian 12, run as root). The window needs Qt 6, which Debian has no MinGW build of: it stays
# Linux only.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh g++-mingw-w64-x86-64-posix wine wine64 googletest libcli11-dev libtomlplusplus-dev cmake ninja-build zip unzip

# CLI11 and toml++ are headers only; a folder of their own keeps the host's other headers out of
# the build.
mkdir -p build-windows/deps/include
rm -rf build-windows/deps/include/CLI build-windows/deps/include/toml++
# Copied with their times, so that a second build does not recompile what includes them.
cp -a /usr/include/CLI /usr/include/toml++ build-windows/deps/include/

launcher=()
command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B build-windows -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" "${launcher[@]}" \
  -DZORV_BUILD_GUI=OFF -DZORV_BUILD_BENCH=OFF \
  -DZORV_CLI11_INCLUDE_DIR="$PWD/build-windows/deps/include" \
  -DZORV_TOMLPP_INCLUDE_DIR="$PWD/build-windows/deps/include" \
  -DZORV_GTEST_SOURCE_DIR=/usr/src/googletest
cmake --build build-windows
