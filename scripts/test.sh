#!/usr/bin/env bash
# Builds the tests (target all_tests, which the default build leaves out) and runs the whole
# suite on the build made by scripts/setup.sh. Extra arguments go to the configuration, e.g.
# -DKELVANE_WERROR=ON.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ ! -f build/CMakeCache.txt ] || [ $# -gt 0 ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
fi
cmake --build build --target all all_tests
ctest --test-dir build --output-on-failure -j2
