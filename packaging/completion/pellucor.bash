# bash completion for pellucor: its options, a folder for REPOSITORY and a file for OLDFILE.
_pellucor() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=
    [ "$COMP_CWORD" -gt 0 ] && prev=${COMP_WORDS[COMP_CWORD - 1]}
    local IFS=$'\n'
    case $prev in
        --keep-from)
            COMPREPLY=($(compgen -f -- "$cur"))
            return
            ;;
    esac
    case $cur in
        --batch=*)
            COMPREPLY=($(compgen -d -P --batch= -- "${cur#--batch=}"))
            return
            ;;
        -*)
            COMPREPLY=($(compgen -W $'--batch\n--batch=\n--keep-from\n--where\n--help\n--version\n--\n-h' -- "$cur"))
            return
            ;;
    esac
    COMPREPLY=($(compgen -d -- "$cur"))
}
complete -o filenames -o nospace -F _pellucor pellucor
