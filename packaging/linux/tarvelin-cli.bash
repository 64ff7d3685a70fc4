# bash completion for tarvelin-cli: its options, the naming schemes and their aliases after
# -n/--naming, folders after -o/--output, files and folders for the paths to convert. The options
# and the schemes are read from the program's own --help, so they cannot fall behind it.

_tarvelin_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]} i
    # "=" splits a word for bash: in "--naming=su" the option is two words back.
    if [[ $cur == "=" ]]; then
        cur=""
    elif [[ $prev == "=" && $COMP_CWORD -ge 2 ]]; then
        prev=${COMP_WORDS[COMP_CWORD - 2]}
    fi
    COMPREPLY=()

    # After "--" every word is a path.
    for ((i = 1; i < COMP_CWORD; i++)); do
        if [[ ${COMP_WORDS[i]} == "--" ]]; then
            compopt -o default 2>/dev/null
            return
        fi
    done

    local help
    help=$("${COMP_WORDS[0]}" --help 2>/dev/null)
    local -a candidates=()
    case $prev in
        -o | --output)
            compopt -o dirnames 2>/dev/null
            return
            ;;
        --index)
            compopt -o default 2>/dev/null
            return
            ;;
        -n | --naming)
            # The scheme table: "    OptSD        subject-date       subject + date".
            candidates=($(awk '$1 ~ /^Opt[A-Za-z0-9_]+$/ { print $1; print $2 }' <<<"$help"))
            ;;
        --format) candidates=(eml maildir mbox) ;;
        --file-time) candidates=(source message) ;;
        -j | --jobs | --mailbox-name) return ;;
        *)
            if [[ $cur == -* ]]; then
                # "  -o, --output=DIR" gives "--output="; "      --dry-run" gives "--dry-run".
                candidates=($(sed -n 's/^[[:blank:]]\{1,\}\(-[A-Za-z0-9], \)\{0,1\}\(--[a-z][a-z0-9-]*=\{0,1\}\).*/\2/p' \
                    <<<"$help"))
            else
                compopt -o default 2>/dev/null
                return
            fi
            ;;
    esac

    # Scheme names are taken in any letter case, so they are matched in any too.
    local word
    for word in "${candidates[@]}"; do
        [[ ${word,,} == "${cur,,}"* ]] && COMPREPLY+=("$word")
    done
    # An option that takes its value after "=" wants no blank behind it.
    [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} == *= ]] && compopt -o nospace 2>/dev/null
    return 0
}
complete -F _tarvelin_cli tarvelin-cli
