#!/usr/bin/env bash
# Runs the whole test suite on the build made by scripts/setup.sh (builds first if needed).
set -euo pipefail
cd "$(dirname "$0")/.."

[ -f build/CMakeCache.txt ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
ctest --test-dir build --output-on-failure -j2
