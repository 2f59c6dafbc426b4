#!/usr/bin/env bash
# man_page.sh PROGRAM VERSION SUMMARY OUT.1
# Writes a man page made by help2man from PROGRAM --help. A program with
# sub-commands (its --help lists them under "Commands:") gets one section per
# sub-command, taken from PROGRAM CMD --help, so the page always follows the
# options the program has. A program without --help gets its page from the
# usage message it prints instead.
set -euo pipefail
program=$1 version=$2 summary=$3 out=$4
name=$(basename "$program")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Qt programs want a runtime directory of their own.
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"

# roff-safe copy of a text block: backslashes doubled, no line starting with
# a control character.
roff_block() {
    printf '.nf\n'
    sed -e 's/\\/\\e/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"
    printf '.fi\n'
}

help_text=$("$program" --help 2>&1) && help_ok=1 || help_ok=0
subject=$program
if [ "$help_ok" = 0 ]; then
    echo "man_page.sh: $name has no --help; its page is made from its usage message" >&2
    printf '#!/bin/sh\n"%s" "$@" 2>&1\nexit 0\n' "$program" > "$work/$name"
    chmod +x "$work/$name"
    subject=$work/$name
fi

include=()
commands=$(printf '%s\n' "$help_text" | sed -n '/^[Cc]ommands:/,/^$/{/^  [a-z]/{s/^  \([a-z][a-z0-9-]*\).*/\1/;p}}' | sort -u)
for command in $commands; do
    text=$("$program" "$command" --help 2>&1) || continue
    [ -s "$work/include" ] || printf '[COMMANDS]\n' > "$work/include"
    printf '.SS "%s %s"\n' "$name" "$command" >> "$work/include"
    printf '%s\n' "$text" | roff_block >> "$work/include"
done
[ -s "$work/include" ] && include=(--include="$work/include")

help2man --no-info --no-discard-stderr --version-string="$version" --name="$summary" \
    "${include[@]}" --output="$out.tmp" "$subject"
# The page names the program, never the temporary wrapper's path.
sed -i "s|$work/||g" "$out.tmp"
mv "$out.tmp" "$out"
