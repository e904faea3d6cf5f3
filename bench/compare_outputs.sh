#!/usr/bin/env bash
# Guards optimisation work: converts a fixed set of generated logs (every layout of
# `kvgen bench`, the example tree, plain/compressed/encrypted, both trace versions) and
# either records the traces as the reference or compares them byte for byte with it.
#
#   bench/compare_outputs.sh record  BIN [DIR]   converts with BIN, keeps DIR/ref
#   bench/compare_outputs.sh compare BIN [DIR]   converts with BIN into DIR/new, cmp to DIR/ref
#
# DIR defaults to ${BENCH_DIR:-/tmp/kelvane-bench}/outputs. The generator and packer come
# from the build folder holding BIN (BIN/../tools).
set -euo pipefail
mode=${1:?record or compare}
bin=$(realpath "${2:?kelvane binary}")
dir=${3:-${BENCH_DIR:-/tmp/kelvane-bench}/outputs}
tools=$(dirname "$bin")/tools
gen=$tools/kvgen
pack=$tools/kvpack

inputs=$dir/inputs
if [ ! -d "$inputs" ]; then
  # One folder per log: generated logs share their metadata, and the driver skips a file
  # that repeats one it has converted in the same run.
  n=0
  for layout in sorted unsorted vlsd-sd vlsd-cg; do
    for groups in 1 3; do
      n=$((n + 1))
      mkdir -p "$inputs/$n"
      "$gen" bench "$inputs/$n/00000001.MF4" --frames 20000 --groups "$groups" --fd 30 \
          --extended 40 --seed "$n" --layout "$layout" >/dev/null
    done
  done
  "$gen" example "$inputs/example" >/dev/null
  mkdir -p "$inputs/compressed" "$inputs/encrypted"
  "$pack" compress "$inputs/1/00000001.MF4" "$inputs/compressed/00000001.MFC" \
      --serial=00000001 >/dev/null
  "$pack" encrypt "$inputs/4/00000001.MF4" "$inputs/encrypted/00000001.MFE" \
      --serial=00000001 --password=cmp --iterations=1000 >/dev/null
  printf '{ "default": "cmp" }\n' >"$inputs/passwords.json"
fi

convert() { # output folder
  local out=$1 fmt status d
  rm -rf "$out"
  for fmt in version1 version2; do
    mkdir -p "$out/$fmt"
    for d in "$inputs"/*/; do
      d=$(basename "$d")
      status=0
      (cd "$inputs" && "$bin" -p passwords.json -f "$fmt" -O "$out/$fmt" "$d" >/dev/null 2>&1) ||
        status=$?
      echo "$status" >"$out/$fmt/$d.status"
    done
  done
}

case $mode in
record)
  convert "$dir/ref"
  echo "recorded $(find "$dir/ref" -name '*.trc' | wc -l) traces in $dir/ref"
  ;;
compare)
  convert "$dir/new"
  bad=0
  while IFS= read -r f; do
    rel=${f#"$dir/ref/"}
    if ! cmp -s "$f" "$dir/new/$rel"; then
      echo "DIFFERS: $rel"
      bad=1
    fi
  done < <(find "$dir/ref" -type f)
  if [ "$(find "$dir/ref" -type f | wc -l)" != "$(find "$dir/new" -type f | wc -l)" ]; then
    echo "DIFFERS: the number of output files"
    bad=1
  fi
  [ $bad = 0 ] && echo "identical: $(find "$dir/ref" -name '*.trc' | wc -l) traces"
  exit $bad
  ;;
*)
  echo "unknown mode $mode" >&2
  exit 2
  ;;
esac
