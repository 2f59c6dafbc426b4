#!/usr/bin/env bash
# tqz_completion.sh COMPLETION_FILE
# The bash completion made from tqz's help completes what a user types:
# sub-commands (also after tqz help), a sub-command's options, the words an
# option takes, the positional words of a synopsis and file names.
set -euo pipefail
source "$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
touch "$work/rec.bin"

# complete WORD... : the completions of the last word of "WORD..."
complete_line() {
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    _tqz
    printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
}
expect() {
    local want=$1
    shift
    local got
    got=$(complete_line "$@")
    [ "$got" = "$want" ] || { echo "tqz $*: completed to '$got', expected '$want'" >&2; exit 1; }
}

expect "settings sim stream synth" tqz s
expect "sim" tqz si
expect "--format --frame" tqz export rec.bin --f
expect "csv pcd ply" tqz export rec.bin --format ""
expect "" tqz stream --sensor ""
expect "--replay" tqz sim --fps 10 --re
expect "get" tqz settings g
expect "settings sim stream synth" tqz help s
expect "$work/rec.bin" tqz sim --replay "$work/r"
expect "$work/rec.bin" tqz info "$work/"
echo "tqz completion: passed"
