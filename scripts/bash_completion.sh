#!/usr/bin/env bash
# bash_completion.sh PROGRAM OUT
# Writes the bash completion of PROGRAM (tqz) made from its own help: the
# sub-commands listed under "Commands:" in PROGRAM --help, and for each the
# options of its synopsis there and of PROGRAM CMD --help where that exists.
# An option's value is completed from what the help names it: a list such as
# pcd|ply|csv gives those words, FILE..., DIR and PREFIX give paths, anything
# else (N, ADDR[:PORT], ...) nothing. Positional words of a synopsis (get|apply,
# COMMAND: the sub-commands) and file arguments (FILE.bin) are completed where
# no option is being typed.
set -euo pipefail
program=$1 out=$2
name=$(basename "$program")
help_text=$("$program" --help 2>&1)

# One line per piece of help text: COMMAND<TAB>KIND<TAB>TEXT, KIND being
# "synopsis" (a usage, whose bare words are positional) or "options".
collect() {
    local command line text
    while IFS= read -r command; do
        line=$(printf '%s\n' "$help_text" | grep -m1 -E "^  $command( |\$)" || true)
        # The synopsis ends where two spaces set off its description.
        line=${line#  "$command"}
        printf '%s\tsynopsis\t%s\n' "$command" "${line%%  *}"
        text=$("$program" "$command" --help 2>/dev/null) || continue
        printf '%s\n' "$text" | grep -iE "^usage: *$name +$command( |\$)" |
            sed -E "s/^[Uu]sage: *$name +$command//; s/ {2,}.*//; s/^/$command\tsynopsis\t/" || true
        printf '%s\n' "$text" | grep -E '^ +(-[a-zA-Z], *)?--[a-z]' |
            sed -E "s/ {2,}[^ -].*//; s/^/$command\toptions\t/" || true
    done
}

commands=$(printf '%s\n' "$help_text" | sed -n '/^[Cc]ommands:/,/^$/{/^  [a-z]/{s/^  \([a-z][a-z0-9-]*\).*/\1/;p}}' | sort -u)
[ -n "$commands" ] || { echo "bash_completion.sh: $name --help lists no commands" >&2; exit 1; }

printf '%s\n' "$commands" | collect | awk -F '\t' -v name="$name" -v commands="$(echo $commands)" '
function kind(value) {
    if (value ~ /^[a-z0-9][a-z0-9-]*(\|[a-z0-9][a-z0-9-]*)+$/) return "words"
    if (value ~ /^(FILE|DIR|PREFIX|PATH)/ || value ~ /\.(bin|json)$/) return value ~ /^DIR/ ? "dirs" : "paths"
    return "none"
}
function add(list, word) { return index(" " list " ", " " word " ") ? list : (list == "" ? word : list " " word) }
{
    command = $1; n = split($3, token, / +/)
    for (i = 1; i <= n; i++) {
        t = token[i]; gsub(/^[[(]+|[])]+$|,$/, "", t)
        if (t == "" || t == "|" || t == "...") continue
        if (t ~ /^--[a-z]/) {
            value = ""
            if (t ~ /=/) { value = substr(t, index(t, "=") + 1); t = substr(t, 1, index(t, "=") - 1) }
            else if (i < n) {
                v = token[i + 1]; gsub(/^[[(]+|[])]+$/, "", v)
                if (v ~ /^[A-Z]/ || kind(v) == "words") { value = v; i++ }
            }
            options[command] = add(options[command], t)
            if (value != "" && !((command, t) in values)) {
                k = kind(value); values[command, t] = k
                if (k == "words") { gsub(/\|/, " ", value); choices[command, t] = value }
            }
        } else if ($2 == "synopsis" && t !~ /^-/) {
            m = split(t, alternative, /\|/)
            for (j = 1; j <= m; j++) {
                a = alternative[j]
                if (a ~ /^[a-z][a-z0-9-]*$/) positional[command] = add(positional[command], a)
                else if (a == "COMMAND") positional[command] = add(positional[command], commands)
                else if (kind(a) != "none") files[command] = 1
            }
        }
    }
    seen[command] = 1
}
END {
    printf "# bash completion for %s, made by scripts/bash_completion.sh from %s --help\n\n", name, name
    print "_" name "_paths()\n{\n    compopt -o filenames 2> /dev/null\n    COMPREPLY+=($(compgen \"$@\" -- \"$cur\"))\n}\n"
    print "_" name "()\n{\n    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}"
    print "    local options=\"\" words=\"\" files=0\n    COMPREPLY=()"
    print "    if [ \"$COMP_CWORD\" -eq 1 ]; then"
    print "        COMPREPLY=($(compgen -W \"" commands " --help --version\" -- \"$cur\"))\n        return\n    fi"
    print "    case ${COMP_WORDS[1]} in"
    split(commands, list, / /)
    for (c = 1; c in list; c++) {
        command = list[c]
        if (!(command in seen)) continue
        printf "    %s)\n        options=\"%s\"\n", command, add(options[command], "--help")
        if (positional[command] != "") printf "        words=\"%s\"\n", positional[command]
        if (command in files) print "        files=1"
        cases = ""; bare = ""
        n = split(options[command], option, / /)
        for (i = 1; i <= n; i++) {
            if (!((command, option[i]) in values)) continue
            k = values[command, option[i]]
            if (k == "none") { bare = bare (bare == "" ? "" : "|") option[i]; continue }
            if (k == "words") action = "COMPREPLY=($(compgen -W \"" choices[command, option[i]] "\" -- \"$cur\"))"
            else action = "_" name "_paths " (k == "dirs" ? "-d" : "-f")
            cases = cases sprintf("        %s) %s; return ;;\n", option[i], action)
        }
        # Values such as N or ADDR[:PORT]: nothing to offer.
        if (bare != "") cases = cases sprintf("        %s) return ;;\n", bare)
        if (cases != "") printf "        case $prev in\n%s        esac\n", cases
        print "        ;;"
    }
    print "    *) return ;;\n    esac"
    print "    if [[ $cur == -* ]]; then"
    print "        COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))"
    print "        return\n    fi"
    print "    [ -n \"$words\" ] && COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))"
    print "    [ \"$files\" = 1 ] && _" name "_paths -f"
    print "    return 0\n}\n"
    print "complete -F _" name " " name
}' > "$out.tmp"
bash -n "$out.tmp"
mv "$out.tmp" "$out"
