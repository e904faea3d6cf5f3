#!/usr/bin/env bash
# Builds the program and its tests with ThreadSanitizer in build-tsan/ and runs the tests
# that use more than one thread: the job pool, the trace writer's second thread (the
# pipeline) and conversions with several jobs, end to end through the real binary. Any
# report fails the run. About two minutes of tests on two cores, after the build.
set -euo pipefail
cd "$(dirname "$0")/.."

flags="-fsanitize=thread -fno-omit-frame-pointer"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVANE_LTO=OFF \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread
cmake --build build-tsan --target kelvane test_support test_app test_converter test_e2e
# The first report ends the process, so the test that met it fails (a converter started by
# an end-to-end test exits with the sanitizer's status); second_deadlock_stack names both
# lock orders of a reported inversion.
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:abort_on_error=1:second_deadlock_stack=1}
# The large containers' end-to-end test is left out: five minutes under the sanitizer for
# threads the folder-tree test runs as well.
ctest --test-dir build-tsan --output-on-failure -j2 \
  -R '^(JobPool|Jobs|Continuation|cPeakConverter|EndToEnd|Safety|kelvaneRun|cRunReport|LogCapture)\.' \
  -E '^EndToEnd\.LargeContainers'
