# bash completion for hdbtool: the command first, then its options and files.
_hdbtool() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local IFS=$'\n'
    local commands=$'dump\nverify\nstat\nexport\nimport\nrecover\nsalvage\nhelp'
    local command= i
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            -*) ;;
            *) command=${COMP_WORDS[i]}; break ;;
        esac
    done
    if [ -z "$command" ]; then
        case $cur in
            -*) COMPREPLY=($(compgen -W $'--help\n--version\n-h' -- "$cur")) ;;
            *) COMPREPLY=($(compgen -W "$commands" -- "$cur")) ;;
        esac
        return
    fi
    case $command in
        help)
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
            return
            ;;
    esac
    if [[ $cur == -* ]]; then
        local options=$'--help\n-h\n--'
        case $command in
            dump | stat | verify) options+=$'\n--json' ;;
            import | salvage) options+=$'\n--force' ;;
        esac
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    COMPREPLY=($(compgen -f -- "$cur"))
}
complete -o filenames -F _hdbtool hdbtool
