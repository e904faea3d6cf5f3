#!/usr/bin/env bash
# Sets up and builds the project, generates a small example tree of logger-style files
# with the project's own generator (plain, compressed and encrypted), converts it and
# shows where the trace files landed.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh
# Only what this script runs: the program and the two generators (a no-op after setup).
cmake --build build --target kelvane kvgen kvpack

ex=example
rm -rf "$ex"
mkdir -p "$ex"
./build/tools/kvgen example "$ex/logs"
mkdir -p "$ex/logs/compressed" "$ex/logs/encrypted"
# One compressed and one encrypted log beside the plain ones; the encrypted one's device
# password is in the example's password file.
./build/tools/kvpack compress "$ex/logs/00000001.MF4" "$ex/logs/compressed/00000001.MFC" --serial=0000ABCD
./build/tools/kvpack encrypt "$ex/logs/00000002.MF4" "$ex/logs/encrypted/00000002.MFE" \
    --serial=0000ABCD --password=example-password --iterations=1000
cat > "$ex/passwords.json" <<'JSON'
{
  "0000ABCD": "example-password"
}
JSON

echo "Converting $ex/logs into $ex/out ..."
mkdir -p "$ex/out"
status=0
( cd "$ex" && time ../build/kelvane -O out logs ) || status=$?
echo "exit status: $status"
echo "trace files:"
find "$ex/out" -name '*.trc' -printf '  %p (%s bytes)\n' | sort
exit $status
