#!/usr/bin/env bash
# Runs the randomized layout round trips for further seeds, beyond the fixed ones of the test
# suite: random frame lists written in random layouts, converted in both trace versions and
# compared with the traces of the frame lists. A failing seed prints the layout it drew.
#
#   scripts/roundtrip-seeds.sh [FIRST [COUNT [BUILD_DIR]]]     (default: 1000 10000 build)
set -euo pipefail
cd "$(dirname "$0")/.."

first=${1:-1000}
count=${2:-10000}
build=${3:-build}
case "$first$count" in
*[!0-9]*) echo "usage: $0 [FIRST [COUNT [BUILD_DIR]]]" >&2; exit 2 ;;
esac

[ -f "$build/CMakeCache.txt" ] ||
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVANE_LTO=OFF
cmake --build "$build" --target kelvane test_e2e
KELVANE_ROUNDTRIP_SEEDS="$first $count" "$build/tests/test_e2e" \
    --gtest_filter=LayoutRoundTrip.FurtherSeedsFromTheEnvironment
