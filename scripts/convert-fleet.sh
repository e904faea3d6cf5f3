#!/usr/bin/env bash
# Converts a fleet of logs, one folder per device, with one converter run per device folder,
# spread by GNU parallel over the cores of this machine or over several machines that share
# the file system.
#
#   scripts/convert-fleet.sh [-j SLOTS] [-S LOGINS] [-O OUTDIR] [-X] [--kelvane BIN]
#                            FLEET [-- CONVERTER-OPTIONS...]
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
#   after --        options for every run (-d, -p FILE, -f version1, --verbosity=N, ...);
#                  not -O, -X or inputs
#
# Every run starts in the current folder, so a "passwords.json" there is found as usual.
# The log lines of each run come out together, in the order of the device folders.
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

slots="" logins="" outdir="" noappend=0 fleet="" bin=${KELVANE:-kelvane}
while [ $# -gt 0 ]; do
  case $1 in
  -j | -S | -O | --kelvane) [ $# -ge 2 ] || usage ;;&
  -j) slots=$2; shift 2 ;;
  -S) logins=$2; shift 2 ;;
  -O) outdir=$2; shift 2 ;;
  --kelvane) bin=$2; shift 2 ;;
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

base=$outdir/$(basename "$fleet")
[ "$noappend" -eq 1 ] || base=${base}_out
mkdir -p "$base" || exit 1

# The fleet's entries in the converter's visiting order (byte-wise by name).
devices=() loose=()
while IFS= read -r -d '' entry; do
  if [ -d "$entry" ]; then devices+=("$entry"); else loose+=("$entry"); fi
done < <(find "$fleet" -mindepth 1 -maxdepth 1 -print0 | LC_ALL=C sort -z)

run=$(printf '%q ' cd "$PWD")"&& "$(printf '%q ' "$bin" -X -O "$base" "${options[@]}")
status=0
if [ ${#devices[@]} -gt 0 ]; then
  joblog=$(mktemp) || exit 1
  trap 'rm -f "$joblog"' EXIT
  args=(--keep-order --joblog "$joblog" -0)
  [ -z "$slots" ] || args+=(-j "$slots")
  [ -z "$logins" ] || args+=(--sshlogin "$logins")
  printf '%s\0' "${devices[@]}" | parallel "${args[@]}" "$run {}"
  pstatus=$?
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
  (cd "$PWD" && "$bin" -X -O "$base" "${options[@]}" "${loose[@]}")
  status=$((status | $?))
fi
exit $status
