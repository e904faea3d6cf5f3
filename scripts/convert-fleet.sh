#!/usr/bin/env bash
# Converts a fleet of logs, one folder per device, with one converter run per device folder,
# spread by GNU parallel over the cores of this machine or over several machines that share
# the file system.
#
#   scripts/convert-fleet.sh [-j SLOTS] [-S LOGINS] [-O OUTDIR] [-X] [--kelvane BIN]
#                            [--report FILE] FLEET [-- CONVERTER-OPTIONS...]
#
# The traces land where one run "kelvane [-X] [-O OUTDIR] FLEET" puts them (FLEET_out below
# OUTDIR, or FLEET itself with -X; OUTDIR defaults to FLEET's parent folder): every device
# folder is converted with "-X -O <that folder>", so its files keep their place. Files
# directly in FLEET are converted together by one more run, on this machine, after the others.
#
#   -j SLOTS       runs per machine at once (GNU parallel's -j; default: one per core)
#   -S LOGINS      machines, as GNU parallel's --sshlogin ("host1,host2,:" where ":" is this
#                  one); they must see FLEET, OUTDIR, the working folder and the converter at
#                  the same paths
#   -O OUTDIR      output root (must exist), as the converter's --output-directory
#   -X             no "_out" after FLEET, as the converter's --no-append-root
#   --kelvane BIN  the converter (default: $KELVANE, or kelvane on the PATH)
#   --report FILE  one run report for the whole fleet (JSON Lines, "-" for standard output):
#                  the runs' reports one after the other, in the order of the device folders
#   after --        options for every run (-d, -u, -p FILE, -f version1, --verbosity=N, ...);
#                  not -O, -X, --report or inputs
#
# Every run starts in the current folder, so a "passwords.json" there is found as usual.
# The log lines of each run come out together, in the order of the device folders. The last
# line is the total over all runs in the converter's summary format ("convert-fleet: N
# converted, ..."), taken from the runs' summary lines; below verbosity 3 the runs print
# none, and the total says so.
# Exit status: the bitwise OR of the runs' statuses, as one run combines its files' results;
# 128 + N is added for a run ended by signal N, 129 when GNU parallel itself fails, 1 when
# FLEET is not a folder, 134 for a bad command line, 127 when GNU parallel is missing.
set -uo pipefail

me=convert-fleet
usage() {
  echo "usage: $me [-j SLOTS] [-S LOGINS] [-O OUTDIR] [-X] [--kelvane BIN] FLEET" \
    "[-- CONVERTER-OPTIONS...]" >&2
  exit 134
}

slots="" logins="" outdir="" noappend=0 fleet="" bin=${KELVANE:-kelvane} report=""
while [ $# -gt 0 ]; do
  case $1 in
  -j | -S | -O | --kelvane | --report) [ $# -ge 2 ] || usage ;;&
  -j) slots=$2; shift 2 ;;
  -S) logins=$2; shift 2 ;;
  -O) outdir=$2; shift 2 ;;
  --kelvane) bin=$2; shift 2 ;;
  --report) report=$2; shift 2 ;;
  -X) noappend=1; shift ;;
  --) shift; break ;;
  -*) usage ;;
  *) [ -z "$fleet" ] || usage; fleet=$1; shift ;;
  esac
done
[ -n "$fleet" ] || usage
options=("$@")

command -v parallel >/dev/null || {
  echo "$me: GNU parallel is not installed (Debian package parallel)" >&2
  exit 127
}
[ -d "$fleet" ] || {
  echo "$me: not a folder: $fleet" >&2
  exit 1
}
fleet=$(realpath "$fleet")
[ -n "$outdir" ] || outdir=$(dirname "$fleet")
[ -d "$outdir" ] || {
  echo "$me: output folder does not exist: $outdir" >&2
  exit 1
}
outdir=$(realpath "$outdir")
resolved=$(command -v "$bin") || {
  echo "$me: converter not found: $bin" >&2
  exit 127
}
bin=$(realpath "$resolved")

# The report is written where the user asked, before anything is converted.
if [ -n "$report" ] && [ "$report" != - ]; then
  : >"$report" || {
    echo "$me: cannot write the report $report" >&2
    exit 134
  }
  report=$(realpath "$report")
fi
started=$EPOCHREALTIME

base=$outdir/$(basename "$fleet")
[ "$noappend" -eq 1 ] || base=${base}_out
mkdir -p "$base" || exit 1

# The fleet's entries in the converter's visiting order (byte-wise by name).
devices=() loose=()
while IFS= read -r -d '' entry; do
  if [ -d "$entry" ]; then devices+=("$entry"); else loose+=("$entry"); fi
done < <(find "$fleet" -mindepth 1 -maxdepth 1 -print0 | LC_ALL=C sort -z)

# Each run's report goes into the work folder (named by the run's sequence number), which
# remote machines see at the same path; the log lines pass through to standard error and
# into errors, where the runs' summary lines are found afterwards.
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
errors=$work/errors
: >"$errors"
run=$(printf '%q ' cd "$PWD")"&& "$(printf '%q ' "$bin" -X -O "$base" "${options[@]}")
[ -z "$report" ] || run+="--report=$(printf '%q' "$work")/{#}.jsonl "
status=0
if [ ${#devices[@]} -gt 0 ]; then
  joblog=$work/joblog
  args=(--keep-order --joblog "$joblog" -0)
  [ -z "$slots" ] || args+=(-j "$slots")
  [ -z "$logins" ] || args+=(--sshlogin "$logins")
  { printf '%s\0' "${devices[@]}" | parallel "${args[@]}" "$run {}" 2>&1 1>&3 3>&- |
    tee -a "$errors" >&2; } 3>&1
  pstatus=${PIPESTATUS[1]}
  # Seq Host Starttime JobRuntime Send Receive Exitval Signal Command
  while IFS=$'\t' read -r _ host _ _ _ _ code signal cmd; do
    if [ "$signal" != 0 ]; then
      echo "$me: ended by signal $signal on ${host:-this machine}: $cmd" >&2
      code=$((128 + signal))
    fi
    status=$((status | code))
  done < <(tail -n +2 "$joblog")
  if [ "$pstatus" -eq 255 ]; then
    echo "$me: GNU parallel failed" >&2
    status=$((status | 129))
  fi
fi
if [ ${#loose[@]} -gt 0 ]; then
  looseReport=()
  [ -z "$report" ] || looseReport=(--report="$work/loose.jsonl")
  { "$bin" -X -O "$base" "${options[@]}" "${looseReport[@]}" "${loose[@]}" 2>&1 1>&3 3>&- |
    tee -a "$errors" >&2; } 3>&1
  status=$((status | PIPESTATUS[0]))
fi

if [ -n "$report" ]; then
  parts=()
  for ((i = 1; i <= ${#devices[@]}; i++)); do
    [ ! -f "$work/$i.jsonl" ] || parts+=("$work/$i.jsonl")
  done
  [ ! -f "$work/loose.jsonl" ] || parts+=("$work/loose.jsonl")
  if [ "$report" = - ]; then
    [ ${#parts[@]} -eq 0 ] || cat "${parts[@]}"
  else
    [ ${#parts[@]} -eq 0 ] || cat "${parts[@]}" >"$report"
  fi
fi

# The total of the runs' summary lines ("I 3 converted, 0 failed, ...").
runs=${#devices[@]}
[ ${#loose[@]} -eq 0 ] || runs=$((runs + 1))
awk -v me="$me" -v runs="$runs" -v elapsed="$(awk -v a="$started" -v b="$EPOCHREALTIME" \
  'BEGIN { print b - a }')" '
  / I [0-9]+ converted, [0-9]+ failed, / {
    sub(/^.* I /, "")
    n = split($0, part, ", ")
    for (i = 1; i < n; i++) {
      split(part[i], word, " ")
      key = substr(part[i], length(word[1]) + 2)
      sub(/^other file /, "other files ", key)
      sub(/^CAN frame /, "CAN frames ", key)
      sum[key] += word[1]
    }
    found++
  }
  function show(key, one, many) {
    return sum[key] + 0 " " (sum[key] == 1 ? one : many)
  }
  END {
    if (found < runs) {
      printf "%s: no total: %d of %d runs printed their summary (verbosity below 3?)\n",
        me, found, runs
      exit
    }
    line = sum["converted"] + 0 " converted, " sum["failed"] + 0 " failed, " \
      sum["repeated skipped"] + 0 " repeated skipped, "
    if (sum["up to date"] > 0) line = line sum["up to date"] " up to date, "
    line = line sum["without CAN frames"] + 0 " without CAN frames, " \
      show("other files left alone", "other file left alone", "other files left alone") ", " \
      show("CAN frames written", "CAN frame written", "CAN frames written") ", "
    printf "%s: %s%.1f s\n", me, line, elapsed
  }' "$errors" >&2
exit $status
