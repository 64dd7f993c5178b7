# bash completion for tovarine: commands, actions, options, reader kinds, encodings, and the
# instance keys of the settings store for the commands that take one. Works with or without the
# bash-completion package.
_tovarine_files() {
    if declare -F _filedir >/dev/null; then
        _filedir "$@"
    else
        local IFS=$'\n'
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        compopt -o filenames 2>/dev/null
    fi
}

_tovarine() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local words=("${COMP_WORDS[@]}") cword=$COMP_CWORD
    COMPREPLY=()

    local i command="" action=""
    for ((i = 1; i < cword; i++)); do
        case "${words[i]}" in
            -*) ;;
            *)
                if [[ -z $command ]]; then
                    command=${words[i]}
                elif [[ -z $action ]]; then
                    action=${words[i]}
                    break
                fi
                ;;
        esac
    done

    case "$prev" in
        -o | --output)
            _tovarine_files
            return
            ;;
        --encoding)
            mapfile -t COMPREPLY < <(compgen -W "utf-8 windows-1252" -- "$cur")
            return
            ;;
        --file)
            _tovarine_files
            return
            ;;
        --to | --since | --limit | --retain | --count | --timeout)
            return
            ;;
    esac

    if [[ $cur == -* ]]; then
        local options="--json --help"
        [[ -z $command ]] && options+=" --version"
        case "$action" in
            export) options+=" -o --output --encoding" ;;
            import | set | delete | restore) options+=" --dry-run --yes --encoding" ;;
            revert) options+=" --to --dry-run --yes --encoding" ;;
            copy) options+=" --force --dry-run --yes --encoding" ;;
            compare) options+=" --file --all --encoding" ;;
            history) options+=" --since --limit --retain" ;;
            watch) options+=" --count --timeout" ;;
        esac
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
        return
    fi

    case "$command" in
        "")
            mapfile -t COMPREPLY < <(compgen -W "read settings help" -- "$cur")
            ;;
        help)
            mapfile -t COMPREPLY < <(compgen -W "read settings" -- "$cur")
            ;;
        read)
            [[ -z $action ]] && mapfile -t COMPREPLY < <(compgen -W "live stream camera clip" -- "$cur")
            ;;
        settings)
            case "$action" in
                "")
                    mapfile -t COMPREPLY < <(compgen -W "init list show export import set delete check backup history revert compare copy restore watch" -- "$cur")
                    ;;
                import)
                    _tovarine_files reg
                    ;;
                backup | check | restore)
                    _tovarine_files
                    ;;
                history | watch | compare | copy)
                    # Every word is an instance key (or, for history and watch, a name).
                    local IFS=$'\n'
                    mapfile -t COMPREPLY < <(compgen -W "$(tovarine settings list 2>/dev/null)" -- "$cur")
                    COMPREPLY=("${COMPREPLY[@]// /\\ }")
                    ;;
                show | set | delete | revert)
                    # The instance key is the first word after the action.
                    if [[ $prev == "$action" ]]; then
                        local IFS=$'\n'
                        mapfile -t COMPREPLY < <(compgen -W "$(tovarine settings list 2>/dev/null)" -- "$cur")
                        COMPREPLY=("${COMPREPLY[@]// /\\ }")  # the key's blanks, escaped
                    fi
                    ;;
            esac
            ;;
    esac
}
complete -F _tovarine tovarine
