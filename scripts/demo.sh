#!/usr/bin/env bash
# Fresh machine to first job: installs, builds, and runs the main job on the built-in virtual board.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
seq -f '%07g' 1 32768 > build/sample.bin && ./build/zorvjtag --cable sim nand --product OBRIN --verify build/sample.bin
