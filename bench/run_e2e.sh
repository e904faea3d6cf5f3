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
#     (cat and head), so each conversion figure is also given as a ratio to that limit
#     ("x limit": baseline time / conversion time; 1.0 is the machine's read+write speed;
#     "x cpu" is the same ratio of CPU seconds, steadier on a shared machine).
# Every time is the best of ${REPEAT:-3} runs, so that a busy machine disturbs it less;
# "frames/s" counts the frames of the log, whichever trace version keeps them.
# Environment: BUILD_DIR (default build) holds kelvane and tools/kvgen, tools/kvpack;
# KELVANE_BIN picks another binary; COMPARE_BIN names a second one (say, an older build)
# measured on the same files in the same run, on the rows marked "*"; GROUPS_PER_FILE (default 4) data groups per log;
# BENCH_DIR (default /tmp/kelvane-bench) takes the scratch files, removed per frame count;
# KINDS (default "plain compressed encrypted") limits the inputs, e.g. KINDS=plain for a
# 100M-frame run.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
bin=$(realpath "${KELVANE_BIN:-$build/kelvane}")
bins=("$bin")
[ -z "${COMPARE_BIN:-}" ] || bins+=("$(realpath "$COMPARE_BIN")")
gen=$build/tools/kvgen
pack=$build/tools/kvpack
work=${BENCH_DIR:-/tmp/kelvane-bench}
groups=${GROUPS_PER_FILE:-4}
repeat=${REPEAT:-3}
kinds=${KINDS:-plain compressed encrypted}
mkdir -p "$work"
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(1000000 10000000)

now() { date +%s.%N; }
mb() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1048576 }'; }

# Runs a command REPEAT times; prints "best_seconds peak_kib best_cpu_seconds" (the peak of
# all runs; CPU = user + system, which a busy machine disturbs less than the wall clock).
measure() {
  local i t0 t1 best="" peak=0 cpu="" rss c
  for ((i = 0; i < repeat; i++)); do
    t0=$(now)
    /usr/bin/time -o "$work/time.txt" -f "%M %U %S" "$@" >/dev/null 2>&1 || true
    t1=$(now)
    read -r rss c < <(tail -1 "$work/time.txt" | awk '{ print $1, $2 + $3 }')
    best=$(awk -v a="$t0" -v b="$t1" -v m="$best" 'BEGIN { t = b - a; print (m == "" || t < m) ? t : m }')
    cpu=$(awk -v t="$c" -v m="$cpu" 'BEGIN { print (m == "" || t < m) ? t : m }')
    [ "$rss" -gt "$peak" ] && peak=$rss
  done
  echo "$best $peak $cpu"
}

# Best time of reading the input and writing `bytes` bytes to a file on the same disk;
# prints "best_seconds best_cpu_seconds".
baseline() { # input bytes
  local i t0 t1 best="" cpu="" c1 c2
  for ((i = 0; i < repeat; i++)); do
    t0=$(now)
    /usr/bin/time -o "$work/time1.txt" -f "%U %S" cat "$1" >/dev/null
    /usr/bin/time -o "$work/time2.txt" -f "%U %S" head -c "$2" /dev/zero >"$work/baseline.bin"
    t1=$(now)
    c1=$(tail -1 "$work/time1.txt" | awk '{ print $1 + $2 }')
    c2=$(tail -1 "$work/time2.txt" | awk '{ print $1 + $2 }')
    best=$(awk -v a="$t0" -v b="$t1" -v m="$best" 'BEGIN { t = b - a; print (m == "" || t < m) ? t : m }')
    cpu=$(awk -v t="$c1" -v u="$c2" -v m="$cpu" 'BEGIN { t += u; print (m == "" || t < m) ? t : m }')
  done
  rm -f "$work/baseline.bin" "$work/time1.txt" "$work/time2.txt"
  echo "$best $cpu"
}

printf "%-10s %-11s %-3s %8s %11s %8s %8s %8s %7s %7s %7s %7s %7s\n" frames input fmt seconds \
  frames/s "in MB/s" "out MB/s" "peakMiB" "base s" "x limit" "cpu s" "base cpu" "x cpu"
for n in "${counts[@]}"; do
  d="$work/$n"
  rm -rf "$d"
  mkdir -p "$d/plain" "$d/compressed" "$d/encrypted" "$d/out"
  "$gen" bench "$d/plain/00000001.MF4" --frames "$n" --groups "$groups" --fd 30 --extended 40 \
    --seed 7 >/dev/null
  case " $kinds " in *" compressed "*)
    "$pack" compress "$d/plain/00000001.MF4" "$d/compressed/00000001.MFC" --serial=00000001 \
      >/dev/null ;;
  esac
  case " $kinds " in *" encrypted "*)
    "$pack" encrypt "$d/plain/00000001.MF4" "$d/encrypted/00000001.MFE" --serial=00000001 \
      --password=bench --iterations=1000 >/dev/null ;;
  esac
  printf '{ "default": "bench" }\n' >"$d/passwords.json"
  for kind in $kinds; do
    in=$(ls "$d/$kind"/*)
    insize=$(stat -c %s "$in")
    for fmt in version2 version1; do
      for b in "${bins[@]}"; do
        mark=" "
        [ "$b" = "$bin" ] || mark="*"
        cat "$in" >/dev/null # hot page cache
        rm -rf "$d/out"
        mkdir -p "$d/out"
        read -r secs rss cpu < <(cd "$d" && measure "$b" -p passwords.json -f "$fmt" -O out "$kind")
        trc=$(find "$d/out" -name '*.trc' | head -1)
        [ -n "$trc" ] || { echo "no trace written for $kind $fmt" >&2; exit 1; }
        outsize=$(stat -c %s "$trc")
        read -r base basecpu < <(baseline "$in" "$outsize")
        awk -v n="$n" -v s="$secs" -v i="$insize" -v o="$outsize" -v r="$rss" -v b="$base" \
          -v c="$cpu" -v bc="$basecpu" -v k="$kind$mark" -v f="${fmt#version}" 'BEGIN {
          printf "%-10d %-11s %-3s %8.3f %11.0f %8.1f %8.1f %8.1f %7.3f %7.2f %7.2f %7.2f %7.2f\n",
                 n, k, f, s, n / s, i / s / 1048576, o / s / 1048576, r / 1024, b, b / s,
                 c, bc, (c > 0 ? bc / c : 0) }'
        rm -rf "$d/out"
      done
    done
  done
  echo "  input $(mb "$(stat -c %s "$d/plain/00000001.MF4")") MiB plain"
  rm -rf "$d"
done
rm -f "$work/time.txt"
