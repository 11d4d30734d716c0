#!/usr/bin/env bash
# Builds into build/ (Release) or, with "asan", into build-asan/ with the sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = "asan" ]; then
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZORV_SANITIZE=ON -DZORV_BUILD_GUI=ON -DZORV_BUILD_BENCH=OFF
  cmake --build build-asan
else
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
  cmake --build build
fi
