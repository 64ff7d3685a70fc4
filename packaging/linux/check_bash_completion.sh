#!/usr/bin/env bash
# Drives the completion function as bash would and checks what it offers.
# Usage: check_bash_completion.sh TARVELIN-CLI COMPLETION-FILE
set -uo pipefail
cli=$1
# shellcheck source=/dev/null
source "$2"
# Outside a real completion compopt has nothing to set; record what was asked instead.
compopt() { asked+="$* "; }

failures=0
# expect "command line, cursor at its end" "offers, sorted, blank-separated" "compopt asked"
expect() {
    local line=$1 want=$2 want_opt=${3:-}
    # bash splits at "=" as well as at blanks.
    local spaced=${line//=/ = }
    read -r -a COMP_WORDS <<<"$spaced"
    [[ $line == *" " || $line == *"=" ]] && COMP_WORDS+=("")
    COMP_WORDS[0]=$cli
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    asked=""
    _tarvelin_cli
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | xargs)
    if [[ "$got" != "$want" || "${asked% }" != "$want_opt" ]]; then
        echo "FAIL '$line': offered [$got] with compopt [${asked% }], want [$want] with [$want_opt]"
        failures=$((failures + 1))
    fi
}

expect "tarvelin-cli --na" "--naming=" "-o nospace"
expect "tarvelin-cli --dry" "--dry-run"
expect "tarvelin-cli -n subject" "subject-date"
expect "tarvelin-cli --naming=optdfs_y" "OptDFS_YMD OptDFS_YMD2"
expect "tarvelin-cli --naming ymd-" "ymd-from-subject ymd-subject-from"
expect "tarvelin-cli -n " "$(awk '$1 ~ /^Opt/ { print $1; print $2 }' <<<"$("$cli" --help)" | sort | xargs)"
expect "tarvelin-cli -o " "" "-o dirnames"
expect "tarvelin-cli --output=" "" "-o dirnames"
expect "tarvelin-cli -o out Ma" "" "-o default"
expect "tarvelin-cli --mailbox-name=" ""
expect "tarvelin-cli -o out -- --na" "" "-o default"

# Every long option of --help is offered once.
options=$("$cli" --help | grep -oE '^[[:blank:]]+(-[A-Za-z0-9], )?--[a-z][a-z0-9-]*=?' | grep -oE -- '--.*' | sort | xargs)
expect "tarvelin-cli -" "$options"
[[ $(wc -w <<<"$options") -ge 8 ]] || { echo "FAIL: only '$options' found in --help"; failures=$((failures + 1)); }

[[ $failures -eq 0 ]] && echo "bash completion: all cases pass"
exit $((failures > 0))
