#!/usr/bin/env bash
# Takes the pictures of the four pages shown in the README (headless), into docs/ or the given
# directory. Builds the window first when it is not built yet.
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs}"
if [ ! -x build/zorvjtag-gui ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
  cmake --build build --target zorvjtag-gui
fi
QT_QPA_PLATFORM=offscreen ./build/zorvjtag-gui --screenshot "$out"
ls -l "$out"/nand-page.png "$out"/nor-page.png "$out"/extra-page.png "$out"/read-page.png "$out"/about-box.png \
  "$out"/cable-dialog.png
