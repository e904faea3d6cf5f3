#!/usr/bin/env bash
# scripts/convert-fleet.sh with two local job slots against one plain run of the converter on
# a copy of the same fleet, both deleting what they convert: the trace trees must be equal
# byte for byte, and so must the exit status, the inputs left behind and the warning and
# error lines (compared as sets: the fleet script writes each device's lines together,
# and the loose files' after the device folders; its runs name paths from the fleet folder
# on, where the plain run starts with the fleet's own name). The fleet's total line must be
# the plain run's summary, and its one report the plain run's, record for record.
#
#   convert_fleet_test.sh KELVANE KVGEN KVPACK
# Exit status 77 (skipped) when GNU parallel is not installed.
set -euo pipefail
kelvane=$(realpath "$1") gen=$(realpath "$2") pack=$(realpath "$3")
script=$(realpath "$(dirname "$0")/../../scripts/convert-fleet.sh")
command -v parallel >/dev/null || {
  echo "GNU parallel is not installed: skipped"
  exit 77
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Three devices, two days, three splits a day; device 2 also has an unknown serial's
# encrypted file, device 3 a cut file and a repeated split; two loose files in the fleet
# root (one of them not a log) and a compressed log.
fleet=$work/src/fleet
for d in 1 2 3; do
  serial=0000B00$d
  for day in 1 2; do
    dir=$fleet/dev$d/day$day
    mkdir -p "$dir"
    for split in 1 2 3; do
      "$gen" bench "$dir/0000000$split.MF4" --frames 700 --groups 2 --fd 25 --extended 25 \
        --seed $((d * 100 + day * 10 + split)) --serial "$serial" --session "$day" \
        --split "$split" --start $((1765000000 + day * 86400 + split * 60)) >/dev/null
    done
  done
done
"$pack" encrypt "$fleet/dev1/day1/00000001.MF4" "$fleet/dev2/day1/00000000.MFE" \
  --serial=0000B001 --password=nobody-knows --iterations=1000 >/dev/null
"$gen" bench "$work/00000004.MF4" --frames 500 --serial 0000B001 --session 2 --split 4 >/dev/null
"$pack" compress "$work/00000004.MF4" "$fleet/dev1/day2/00000004.MFC" --serial=0000B001 >/dev/null
head -c 20000 "$fleet/dev3/day1/00000002.MF4" >"$fleet/dev3/day1/00000002_cut.MF4"
cp "$fleet/dev3/day2/00000002.MF4" "$fleet/dev3/day2/00000002r.MF4"
"$gen" bench "$fleet/loose.MF4" --frames 300 --serial 0000C001 >/dev/null
echo "not a log" >"$fleet/notes.txt"

mkdir -p "$work/plain/out" "$work/fleet/out"
cp -a "$fleet" "$work/plain/"
cp -a "$fleet" "$work/fleet/"

plain_status=0
(cd "$work/plain" && "$kelvane" -O out fleet -d --report=../plain.jsonl 2>"$work/plain.err") ||
  plain_status=$?
fleet_status=0
(cd "$work/fleet" && "$script" -j 2 -S : -O out --kelvane "$kelvane" --report ../fleet.jsonl \
  fleet -- -d 2>"$work/fleet.err") || fleet_status=$?

fail=0
problems() {
  sed -E -n '/^[^ ]+ [^ ]+ +[0-9]+ +[0-9]+ [WEF] /{s/^[^ ]+ [^ ]+ +[0-9]+ +[0-9]+ //;s/ fleet\// /;s#/(plain|fleet)/passwords#/passwords#;p}' "$1" |
    LC_ALL=C sort
}
[ "$plain_status" -eq 10 ] || { echo "plain run: status $plain_status, expected 10"; fail=1; }
[ "$fleet_status" -eq "$plain_status" ] ||
  { echo "status $fleet_status, plain run $plain_status"; fail=1; }
diff -r "$work/plain/out" "$work/fleet/out" || { echo "trace trees differ"; fail=1; }
diff -r "$work/plain/fleet" "$work/fleet/fleet" || { echo "inputs left behind differ"; fail=1; }
diff <(problems "$work/plain.err") <(problems "$work/fleet.err") ||
  { echo "warning and error lines differ"; fail=1; }
# Summary and total without their time; records without theirs, and with one folder name.
summary() { sed -E -n "s/^.* I ([0-9]+ converted, .*), [0-9.]+ s\$/\1/p" "$1" | tail -n 1; }
total() { sed -E -n "s/^convert-fleet: ([0-9]+ converted, .*), [0-9.]+ s\$/\1/p" "$1"; }
records() {
  sed -E "s/,\"seconds\":[0-9.]+//; s#$work/(plain|fleet)/#$work/X/#g; s#(of|file|:) fleet/#\\1 #" "$1"
}
[ -n "$(total "$work/fleet.err")" ] || { echo "no total line"; fail=1; }
[ "$(total "$work/fleet.err")" = "$(summary "$work/plain.err")" ] ||
  { echo "total line differs from the plain run's summary"; fail=1; }
[ "$(wc -l <"$work/fleet.jsonl")" -eq 23 ] ||
  { echo "$(wc -l <"$work/fleet.jsonl") records, expected 23"; fail=1; }
diff <(records "$work/plain.jsonl") <(records "$work/fleet.jsonl") ||
  { echo "reports differ"; fail=1; }
traces=$(find "$work/fleet/out" -name '*_CAN.trc' | wc -l)
left=$(find "$work/fleet/fleet" -type f | wc -l)
# 18 splits, the compressed log and the loose log are converted and deleted; the encrypted,
# cut and repeated files and the notes stay.
[ "$traces" -eq 20 ] || { echo "$traces traces, expected 20"; fail=1; }
[ "$left" -eq 4 ] || { echo "$left inputs left, expected 4"; fail=1; }
if [ "$fail" -ne 0 ]; then
  echo "--- plain run"; cat "$work/plain.err"
  echo "--- fleet script"; cat "$work/fleet.err"
  exit 1
fi
echo "fleet script and plain run agree: $traces traces, status $fleet_status"
