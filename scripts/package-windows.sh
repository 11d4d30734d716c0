#!/usr/bin/env bash
# Packs the Windows build (scripts/build-windows.sh) into build-windows/zorvjtag-VERSION-win64.zip
# and prints its path (the only thing it prints on standard output).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build-windows.sh >&2
version=$(sed -n 's/^project(zorvjtag VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=zorvjtag-$version-win64
stage=build-windows/package/$name
rm -rf build-windows/package "build-windows/$name.zip"
mkdir -p "$stage/licences"
cp build-windows/bin/zorvjtag.exe "$stage/"
cp dist/windows/README.txt "$stage/"
# The products' board files, found beside the program by --board NAME.
mkdir -p "$stage/boards"
cp boards/*.toml "$stage/boards/"
# What the program carries inside it: CLI11, toml++, and the compiler's runtime (libstdc++, libgcc,
# winpthreads, the MinGW-w64 runtime). googletest is in the tests only.
cp /usr/share/doc/libcli11-dev/copyright "$stage/licences/CLI11.txt"
cp /usr/share/doc/libtomlplusplus-dev/copyright "$stage/licences/toml++.txt"
cp /usr/share/doc/gcc-mingw-w64-base/copyright "$stage/licences/gcc-mingw-w64.txt"
cp /usr/share/doc/mingw-w64-common/copyright "$stage/licences/mingw-w64.txt"
# Windows readers expect CR LF.
for f in "$stage/README.txt" "$stage"/licences/*.txt "$stage"/boards/*.toml; do sed -i 's/\r*$/\r/' "$f"; done
(cd build-windows/package && zip -qr "../$name.zip" "$name")
echo "build-windows/$name.zip"
