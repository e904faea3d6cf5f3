#!/usr/bin/env bash
# End-to-end conversion figures against the machine's own read+write limit.
#
#   bench/run_e2e.sh [FRAMES...]        (default: 1000000 10000000)
#
# For each frame count it generates a logger-style file with the project's generator
# (classic and FD frames, standard and extended ids, several data groups), a compressed
# and an encrypted copy, and measures with a hot page cache:
#   - conversion time, frames/s, input MB/s, output MB/s and peak resident memory, for
#     plain/compressed/encrypted input and both trace versions;
#   - the baseline: reading the input and writing as many bytes as the produced .trc
#     (cat), so each conversion figure is also given as a ratio to that limit.
# Needs a build in build/ (scripts/setup.sh). Scratch files go to ${BENCH_DIR:-/tmp/kelvane-bench}.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/kelvane
gen=build/tools/kvgen
pack=build/tools/kvpack
work=${BENCH_DIR:-/tmp/kelvane-bench}
groups=${GROUPS_PER_FILE:-4}
mkdir -p "$work"
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(1000000 10000000)

now() { date +%s.%N; }
mb() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1048576 }'; }

# Runs a command, prints "seconds peak_kib".
measure() {
  local t0 t1 rss
  t0=$(now)
  rss=$( { /usr/bin/time -f "%M" "$@" >/dev/null 2>/dev/null; } 2>&1 | tail -1 )
  t1=$(now)
  awk -v a="$t0" -v b="$t1" -v r="$rss" 'BEGIN { printf "%.3f %s", b - a, r }'
}

printf "%-10s %-10s %-3s %9s %11s %9s %9s %9s %9s\n" frames input fmt seconds frames/s "in MB/s" "out MB/s" "peak MiB" "x limit"
for n in "${counts[@]}"; do
  d="$work/$n"
  rm -rf "$d"; mkdir -p "$d/plain" "$d/compressed" "$d/encrypted" "$d/out"
  "$gen" bench "$d/plain/00000001.MF4" --frames "$n" --groups "$groups" --fd 30 --extended 40 --seed 7 >/dev/null
  "$pack" compress "$d/plain/00000001.MF4" "$d/compressed/00000001.MFC" --serial=00000001 >/dev/null
  "$pack" encrypt "$d/plain/00000001.MF4" "$d/encrypted/00000001.MFE" --serial=00000001 \
      --password=bench --iterations=1000 >/dev/null
  printf '{ "default": "bench" }\n' > "$d/passwords.json"
  for kind in plain compressed encrypted; do
    in=$(ls "$d/$kind"/*)
    insize=$(stat -c %s "$in")
    for fmt in version2 version1; do
      cat "$in" >/dev/null # hot page cache
      rm -rf "$d/out"; mkdir -p "$d/out"
      read -r secs rss < <(cd "$d" && measure "$OLDPWD/$bin" -p passwords.json -f "$fmt" -O out "$kind")
      trc=$(find "$d/out" -name '*.trc' | head -1)
      outsize=$(stat -c %s "$trc")
      # Baseline: read the input, write as many bytes as the trace holds.
      t0=$(now); cat "$in" >/dev/null; head -c "$outsize" /dev/zero >"$d/baseline.bin"; t1=$(now)
      base=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
      awk -v n="$n" -v s="$secs" -v i="$insize" -v o="$outsize" -v r="$rss" -v b="$base" \
          -v k="$kind" -v f="${fmt#version}" 'BEGIN {
        printf "%-10d %-10s %-3s %9.3f %11.0f %9.1f %9.1f %9.1f %9.2f\n",
               n, k, f, s, n / s, i / s / 1048576, o / s / 1048576, r / 1024, b / s }'
    done
  done
  echo "  input $(mb "$(stat -c %s "$d/plain/00000001.MF4")") MiB plain; baseline = cat of input + write of the trace's size"
  rm -rf "$d"
done
