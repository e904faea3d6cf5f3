#!/usr/bin/env bash
# End-to-end conversion figures against the machine's own read+write limit.
#
#   bench/run_e2e.sh [FRAMES...]        (default: 1000000 10000000)
#
# For each frame count it generates a logger-style file with the project's generator
# (classic and FD frames, standard and extended ids, several data groups), a compressed
# and an encrypted copy, and measures with a hot page cache:
#   - conversion time (median and best of ${REPEAT:-5} runs), frames/s and CPU seconds, for
#     plain/compressed/encrypted input and each output format of ${FORMATS} (default: both
#     trace versions, asc, blf, candump, csv; "fmt" 2 and 1 are the trace versions);
#   - the baseline, the machine's read+write limit: `cat` of the input to /dev/null plus
#     `dd bs=1M` of the produced output (a copy made by an untimed run) into a fresh file.
#     Each baseline run follows a conversion run, so that both see the same state of a busy
#     machine. "x limit" is the conversion's median over the baseline's median (1.0 would be
#     the limit itself). Both timed commands start right after an output of the same size was
#     removed: on a virtual machine whose host takes back guest memory left free, writing
#     into pages freed a moment ago is several times faster than into pages free for a few
#     seconds (765 MiB with dd: 0.32 s against 1.9 s on the 2-core machine), and a baseline
#     that writes into the colder pages would flatter the conversion;
#   - "x plain": a container's median over the plain input's median, same output format;
#   - the anonymous memory peak (heap and other memory not backed by a file: a mapped input
#     is the page cache's, not the program's), in a run of its own: the largest RssAnon of
#     /proc/PID/status, sampled every ${SAMPLE_MS:-2} ms. Sampling can miss a peak shorter
#     than that; the program's large allocations live for the whole file, so they are seen.
#     "unwrapped" is the size a container's content takes in memory.
# "frames/s" counts the frames of the log, whichever format keeps them.
# Environment: BUILD_DIR (default build) holds kelvane and tools/kvgen, tools/kvpack;
# KELVANE_BIN picks another binary; COMPARE_BIN names a second one (say, an older build)
# measured on the same files in the same run, on the rows marked "*"; GROUPS_PER_FILE
# (default 4) data groups per log; BENCH_DIR (default /tmp/kelvane-bench) takes the scratch
# files, removed per frame count; KINDS (default "plain compressed encrypted") limits the
# inputs, e.g. KINDS=plain for a 100M-frame run.
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
repeat=${REPEAT:-5}
sample=$(awk -v ms="${SAMPLE_MS:-2}" 'BEGIN { printf "%.3f", ms / 1000 }')
kinds=${KINDS:-plain compressed encrypted}
formats=${FORMATS:-version2 version1 asc blf candump csv}
mkdir -p "$work"
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(1000000 10000000)

now() { date +%s.%N; }
mb() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1048576 }'; }
# "median best" of the numbers given.
stats() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
  m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; print m, v[1] }'; }

# Largest RssAnon (KiB) of the command while it runs. The sampling loop uses builtins only
# (a read with a timeout on a pipe that never delivers serves as the sleep), so it costs
# the machine little and forks nothing.
anonPeak() {
  local pid peak=0 key value unit pause
  exec {pause}<> <(:)
  "$@" >/dev/null 2>&1 &
  pid=$!
  while [ -r "/proc/$pid/status" ]; do
    while read -r key value unit; do
      [ "$key" = "RssAnon:" ] && { [ "$value" -gt "$peak" ] && peak=$value; break; }
    done 2>/dev/null <"/proc/$pid/status" || true
    read -r -t "$sample" -u "$pause" _ || true
    kill -0 "$pid" 2>/dev/null || break
  done
  wait "$pid" || true
  exec {pause}<&-
  echo "$peak"
}

printf "%-9s %-12s %-7s %7s %7s %9s %7s %7s %7s %6s %7s %8s %9s\n" frames input fmt "med s" \
  "best s" frames/s "cpu s" "base s" "bbest s" "x lim" "x plain" "anonMiB" "unwrapMiB"
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
  plainsize=$(stat -c %s "$d/plain/00000001.MF4")
  declare -A plainMedian=()
  for kind in $kinds; do
    in=$(ls "$d/$kind"/*)
    unwrapped=0
    [ "$kind" = plain ] || unwrapped=$plainsize
    for fmt in $formats; do
      for b in "${bins[@]}"; do
        mark=" "
        [ "$b" = "$bin" ] || mark="*"
        cat "$in" >/dev/null # hot page cache
        # An untimed run leaves an output for the first conversion to replace; its copy is
        # what the baseline writes, and the baseline's last copy is removed before each.
        rm -rf "$d/out" "$d/baseline.bin" "$d/source.out"
        mkdir -p "$d/out"
        (cd "$d" && "$b" -p passwords.json -f "$fmt" -O out "$kind" >/dev/null 2>&1) || true
        out=$(find "$d/out" -name '*_CAN.*' | head -1)
        [ -n "$out" ] || { echo "no output written for $kind $fmt" >&2; exit 1; }
        cp "$out" "$d/source.out"
        cp "$out" "$d/baseline.bin"
        conv=() cpus=() base=()
        for ((i = 0; i < repeat; i++)); do
          rm -rf "$d/out"
          mkdir -p "$d/out"
          t0=$(now)
          (cd "$d" && /usr/bin/time -o "$work/time.txt" -f "%U %S" \
            "$b" -p passwords.json -f "$fmt" -O out "$kind" >/dev/null 2>&1) || true
          t1=$(now)
          out=$(find "$d/out" -name '*_CAN.*' | head -1)
          [ -n "$out" ] || { echo "no output written for $kind $fmt" >&2; exit 1; }
          conv+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')")
          cpus+=("$(tail -1 "$work/time.txt" | awk '{ print $1 + $2 }')")
          rm -f "$d/baseline.bin"
          t0=$(now)
          cat "$in" >/dev/null
          dd if="$d/source.out" of="$d/baseline.bin" bs=1M status=none
          t1=$(now)
          base+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')")
        done
        rm -rf "$d/out" "$d/baseline.bin" "$d/source.out"
        mkdir -p "$d/out"
        peak=$(cd "$d" && anonPeak "$b" -p passwords.json -f "$fmt" -O out "$kind")
        read -r cmed cbest < <(stats "${conv[@]}")
        read -r umed _ < <(stats "${cpus[@]}")
        read -r bmed bbest < <(stats "${base[@]}")
        key="$fmt$mark"
        [ "$kind" = plain ] && plainMedian[$key]=$cmed
        awk -v n="$n" -v k="$kind$mark" -v f="${fmt#version}" -v cm="$cmed" -v cb="$cbest" \
          -v u="$umed" -v bm="$bmed" -v bb="$bbest" -v p="${plainMedian[$key]:-0}" \
          -v a="$peak" -v w="$unwrapped" 'BEGIN {
          printf "%-9d %-12s %-7s %7.3f %7.3f %9.0f %7.2f %7.3f %7.3f %6.2f %7s %8.1f %9.1f\n",
                 n, k, f, cm, cb, n / cm, u, bm, bb, cm / bm,
                 (p > 0 ? sprintf("%.2f", cm / p) : "-"), a / 1024, w / 1048576 }'
        rm -rf "$d/out"
      done
    done
  done
  echo "  input $(mb "$plainsize") MiB plain"
  unset plainMedian
  rm -rf "$d"
done
rm -f "$work/time.txt"
