#!/bin/sh
# Runs the libFuzzer targets: fuzz/run.sh TARGET|all SECONDS [BUILD_DIR]
# TARGET is one of mdf compressed encrypted passwords cli. Builds the targets with clang in
# BUILD_DIR (default build-fuzz below the source root), writes the seed corpus made by the
# project's writers, and fuzzes each target for SECONDS seconds, starting from its seeds,
# its earlier findings and the regression inputs of fuzz/regressions/TARGET. New crashing
# inputs land in BUILD_DIR/fuzz-artifacts/TARGET/. The status is nonzero when any target
# found a crash, a leak, a timeout or an allocation past the memory limit. FUZZ_SEED fixes
# the random seed (0, the default, lets libFuzzer pick one), so that a CI run repeats the
# same mutations.
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
target=${1:?usage: fuzz/run.sh TARGET|all SECONDS [BUILD_DIR]}
seconds=${2:?usage: fuzz/run.sh TARGET|all SECONDS [BUILD_DIR]}
build=${3:-$src/build-fuzz}
# The targets run from a scratch folder: a relative build folder is taken from here.
case $build in /*) ;; *) build=$(pwd)/$build ;; esac
all="mdf compressed encrypted passwords cli"
[ "$target" = all ] && targets=$all || targets=$target

CC=clang CXX=clang++ cmake -S "$src" -B "$build" -G Ninja -DKELVANE_FUZZ=ON \
    -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target fuzz_seeds $(for t in $targets; do echo fuzz_$t; done)

seeds=$build/fuzz-seeds
for t in $all; do mkdir -p "$seeds/$t"; done
"$build/fuzz/fuzz_seeds" "$seeds"

status=0
for t in $targets; do
    corpus=$build/fuzz-corpus/$t
    artifacts=$build/fuzz-artifacts/$t
    mkdir -p "$corpus" "$artifacts" "$src/fuzz/regressions/$t"
    # The command-line target resolves relative paths: give it a scratch folder to do so in.
    work=$(mktemp -d)
    echo "== fuzz_$t for $seconds s"
    (cd "$work" && "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 \
        -seed="${FUZZ_SEED:-0}" \
        -rss_limit_mb=2048 -malloc_limit_mb=2048 -max_len=65536 -close_fd_mask=1 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" \
        "$corpus" "$seeds/$t" "$src/fuzz/regressions/$t") || status=1
    rm -rf "$work"
done
exit $status
