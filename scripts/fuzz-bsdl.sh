#!/usr/bin/env bash
# Fuzzes the BSDL reader with libFuzzer for SECONDS (default 600), starting from the test files in
# tests/bsdl/files; new inputs gather in build-fuzz/corpus, findings (crash-*, timeout-*) in
# build-fuzz/findings. Needs clang (installed here through install-deps.sh, so run as root the first time).
# Usage: scripts/fuzz-bsdl.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh clang-14 libclang-rt-14-dev
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 -DZORV_FUZZ=ON \
  -DZORV_BUILD_GUI=OFF -DZORV_BUILD_TESTS=OFF -DZORV_BUILD_BENCH=OFF > /dev/null
cmake --build build-fuzz --target bsdl_fuzz
mkdir -p build-fuzz/corpus build-fuzz/findings
build-fuzz/tests/bsdl/fuzz/bsdl_fuzz -max_total_time="${1:-600}" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
  -dict=tests/bsdl/fuzz/bsdl.dict -artifact_prefix=build-fuzz/findings/ -print_final_stats=1 \
  build-fuzz/corpus tests/bsdl/files
