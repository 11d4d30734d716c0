#!/usr/bin/env bash
# Fresh machine to first job: installs, builds, and runs the main job on the built-in virtual board.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
./build/zorvjtag --cable sim idcode --product OBRIN
