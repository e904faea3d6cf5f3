#!/usr/bin/env bash
# The bash completion offers the options, the output format values, folders after -O and
# files elsewhere. Needs the bash-completion package; reports "skipped" (77) without it.
set -u
framework=/usr/share/bash-completion/bash_completion
[ -f "$framework" ] || { echo "no $framework"; exit 77; }
source "$framework"
source "$(realpath "${1:?completion script}")"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" && mkdir logs logs_out && touch log.MF4 keys.json

failed=0
expect() { # command line, expected completions (sorted, blank-separated)
  local line=$1 want=$2
  read -ra COMP_WORDS <<<"$line"
  [[ $line == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$line COMP_POINT=${#line}
  COMPREPLY=()
  _kelvane 2>/dev/null # compopt complains outside a real completion
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | xargs)
  if [ "$got" != "$want" ]; then
    echo "\"$line\": got \"$got\", want \"$want\""
    failed=1
  fi
}
expect "kelvane --trace-format=v" "version1 version2"
expect "kelvane -f c" "candump csv"
expect "kelvane --trace-format=" "asc blf candump csv version1 version2"
expect "kelvane --no" "--no-append-root --non-interactive"
expect "kelvane -O lo" "logs logs_out"
expect "kelvane -p k" "keys.json"
expect "kelvane --report k" "keys.json"
expect "kelvane --up" "--update"
expect "kelvane -b " ""
expect "kelvane -d lo" "log.MF4 logs logs_out"
exit $failed
