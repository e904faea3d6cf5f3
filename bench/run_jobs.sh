#!/usr/bin/env bash
# Fleet conversion with one and with several jobs: time, and sameness of the results.
#
#   bench/run_jobs.sh
#
# Generates (once; kept until its parameters change) a fleet of FILES logs of FRAMES frames
# each, one folder per device and one per day below it, with sessions and splits as a logger
# writes them, plus three files that must fail or be skipped exactly as in a one-job run:
# a cut file, an encrypted file whose password is not known and a repeated file. Then it
# converts the fleet REPEAT times per configuration, the configurations interleaved so that
# a busy machine disturbs them alike, and prints the median, fastest and slowest wall time,
# the median CPU time (user + system), the peak resident memory and the speed-up of the
# median wall time against the first configuration. A loaded machine hides the speed-up
# (with autogroup scheduling the threads of one run share one run's part of the processors):
# compare the CPU times then, and time on an idle machine, or give the benchmark a session
# of its own with a high share of the processors (as root, for a short while):
#   setsid -w sh -c 'echo -20 >/proc/self/autogroup && exec bench/run_jobs.sh'
# BENCH_DIR=/dev/shm/kelvane-jobs keeps the disk out of the figures.
#
# Every run must give the same trace tree (checksums of all files), exit status and warning
# and error lines (without their time, process and thread columns) as the first run; a
# difference is printed and makes the script exit with 1.
#
# Environment: BUILD_DIR (default build) holds kelvane and tools/kvgen, tools/kvpack;
# KELVANE_BIN picks another binary; COMPARE_BIN names an older binary, timed with one job on
# the same fleet ("old"); JOBS (default "1 2") the job counts; FILES (default 400), FRAMES
# (default 40000), REPEAT (default 3); BENCH_DIR (default /tmp/kelvane-jobs) the scratch
# folder. A binary without "--jobs" in its help is run without the option, once per round.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
bin=$(realpath "${KELVANE_BIN:-$build/kelvane}")
gen=$(realpath "$build/tools/kvgen")
pack=$(realpath "$build/tools/kvpack")
work=${BENCH_DIR:-/tmp/kelvane-jobs}
files=${FILES:-400}
frames=${FRAMES:-40000}
repeat=${REPEAT:-3}
jobs_list=${JOBS:-1 2}
mkdir -p "$work"
work=$(realpath "$work")

devices=10
splits=10
days=$(((files + devices * splits - 1) / (devices * splits)))

# The fleet: device d (serial 0000A00d) logs session s on day s, splits 1 to 10.
generate() {
  local fleet=$work/fleet d day split serial dir n=0
  rm -rf "$fleet"
  for ((d = 1; d <= devices; d++)); do
    serial=$(printf '0000A%03X' "$d")
    for ((day = 1; day <= days; day++)); do
      dir=$fleet/$serial/2026-12-$(printf '%02d' "$day")
      mkdir -p "$dir"
      for ((split = 1; split <= splits && n < files; split++, n++)); do
        "$gen" bench "$dir/$(printf '%08d' "$split").MF4" --frames "$frames" --groups 2 \
          --fd 20 --extended 30 --seed $((d * 1000 + day * 100 + split)) --serial "$serial" \
          --session "$day" --split "$split" --start $((1764547200 + day * 86400 + split * 600)) \
          >/dev/null
      done
    done
  done
  local first=$fleet/0000A001/2026-12-01 second=$fleet/0000A002/2026-12-01
  # Cut in the middle of its data, visited between splits 5 and 6.
  head -c $(($(stat -c %s "$first/00000006.MF4") / 2)) "$first/00000006.MF4" \
    >"$first/00000005_cut.MF4"
  # Encrypted for a device whose password the run does not have.
  "$pack" encrypt "$first/00000003.MF4" "$second/00000000.MFE" --serial=0000A001 \
    --password=unknown --iterations=1000 >/dev/null
  # The same split again, right after the original.
  cp "$second/00000004.MF4" "$second/00000004r.MF4"
}

stamp="files=$files frames=$frames gen=$(stat -c %Y "$gen")"
if [ "$(cat "$work/fleet.stamp" 2>/dev/null)" != "$stamp" ]; then
  echo "generating $files logs of $frames frames in $work/fleet ..."
  generate
  echo "$stamp" >"$work/fleet.stamp"
fi
echo "fleet: $(find "$work/fleet" -type f | wc -l) files, $(du -sm "$work/fleet" | cut -f1) MiB"

supports_jobs() { "$1" --help 2>/dev/null | grep -q -- '--jobs'; }

# Configurations: "label binary jobs"; jobs "-" runs without the option.
configs=()
if supports_jobs "$bin"; then
  for j in $jobs_list; do configs+=("jobs$j $bin $j"); done
else
  echo "note: $bin has no --jobs option; timing it with one job only"
  configs+=("jobs1 $bin -")
fi
if [ -n "${COMPARE_BIN:-}" ]; then
  cbin=$(realpath "$COMPARE_BIN")
  if supports_jobs "$cbin"; then configs+=("old $cbin 1"); else configs+=("old $cbin -"); fi
fi

# Runs one configuration; appends "seconds peak_kib cpu_seconds" to $work/<label>.times and checks the
# results against the first run's.
run_one() { # label binary jobs
  local label=$1 b=$2 j=$3 status=0 opt=()
  [ "$j" = "-" ] || opt=(--jobs "$j")
  rm -rf "$work/out"
  mkdir -p "$work/out"
  (cd "$work" && /usr/bin/time -o "$work/time.txt" -f "%e %M %U %S" \
    "$b" "${opt[@]}" -O out fleet 2>"$work/stderr.txt") || status=$?
  tail -1 "$work/time.txt" | awk '{ print $1, $2, $3 + $4 }' >>"$work/$label.times"
  (cd "$work/out" && find . -type f -print0 | LC_ALL=C sort -z | xargs -0 -r md5sum) \
    >"$work/sums.txt"
  # "MM-DD hh:mm:ss.mmm  pid   tid L text": keep warnings and worse, from the letter on.
  sed -E -n 's/^[^ ]+ [^ ]+ +[0-9]+ +[0-9]+ ([WEF] .*)$/\1/p' "$work/stderr.txt" \
    >"$work/problems.txt"
  echo "$status" >"$work/status.txt"
  if [ ! -e "$work/ref.sums" ]; then
    mv "$work/sums.txt" "$work/ref.sums"
    mv "$work/problems.txt" "$work/ref.problems"
    mv "$work/status.txt" "$work/ref.status"
    ref_label=$label
    return
  fi
  local what
  for what in sums problems status; do
    if ! cmp -s "$work/$what.txt" "$work/ref.$what"; then
      echo "DIFFERENT $what: $label against $ref_label" >&2
      diff "$work/ref.$what" "$work/$what.txt" | head -20 >&2 || true
      differences=1
    fi
  done
}

differences=0
ref_label=""
rm -f "$work"/ref.* "$work"/*.times
for ((r = 1; r <= repeat; r++)); do
  for c in "${configs[@]}"; do
    read -r label b j <<<"$c"
    run_one "$label" "$b" "$j"
  done
done

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
printf "%-7s %5s %9s %9s %9s %9s %9s %8s\n" config jobs median fastest slowest "cpu s" peakMiB \
  speedup
base=$(median <"$work/${configs[0]%% *}.times")
for c in "${configs[@]}"; do
  read -r label b j <<<"$c"
  t=$work/$label.times
  med=$(cut -d' ' -f1 "$t" | median)
  cpu=$(cut -d' ' -f3 "$t" | median)
  awk -v l="$label" -v j="$j" -v m="$med" -v c="$cpu" -v b="$base" '
    { s = $1; if (NR == 1 || s < lo) lo = s; if (s > hi) hi = s; if ($2 > pk) pk = $2 }
    END { printf "%-7s %5s %9.2f %9.2f %9.2f %9.2f %9.1f %8.2f\n", l, j, m, lo, hi, c, pk / 1024,
                 b / m }' "$t"
done
echo "status $(cat "$work/ref.status"), $(wc -l <"$work/ref.problems") warning/error lines," \
  "$(wc -l <"$work/ref.sums") trace files"
rm -rf "$work/out" "$work/time.txt" "$work/stderr.txt"
if [ "$differences" -ne 0 ]; then
  echo "results differ between runs" >&2
  exit 1
fi
echo "all runs gave the same traces, exit status and warning/error lines"
