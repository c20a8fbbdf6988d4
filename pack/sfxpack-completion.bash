# SPDX-License-Identifier: Zlib
# Bash completion for sfxpack: options, the targets `sfxpack --targets`
# lists, code pages, separators, levels, and files (PATHs in the -C folder given).

_sfxpack_options='-o --output -s --stub --target --targets -C --directory -z --compress --level=
    --notice
    -L --follow-links --separator= --codepage -l --list -t --test -x --extract -v --verbose
    -h --help --version'
_sfxpack_codepages='437 737 775 850 852 855 857 860 861 862 863 864 865 866 869 874
    932 936 949 950 1250 1251 1252 1253 1254 1255 1256 1257 1258'

# The -C folder given so far on the command line, or nothing.
_sfxpack_folder() {
    local i
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
        -C | --directory)
            # "--directory=DIR" comes as three words.
            if [[ ${COMP_WORDS[i + 1]} == = ]]; then
                printf '%s' "${COMP_WORDS[i + 2]}"
            else
                printf '%s' "${COMP_WORDS[i + 1]}"
            fi
            ;;
        esac
    done
}

_sfxpack() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    # "--separator=/" comes as three words: the option, "=" and the value.
    if [[ $cur == = ]]; then
        cur=''
    elif [[ $prev == = ]] && ((COMP_CWORD >= 2)); then
        prev=${COMP_WORDS[COMP_CWORD - 2]}
    fi

    case $prev in
    -o | --output | -s | --stub | --notice | -l | --list | -t | --test | -x | --extract)
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        return
        ;;
    -C | --directory)
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
        return
        ;;
    --target)
        local targets
        targets=$("$1" --targets 2>/dev/null | cut -d ' ' -f 1)
        mapfile -t COMPREPLY < <(compgen -W "$targets" -- "$cur")
        return
        ;;
    --codepage)
        mapfile -t COMPREPLY < <(compgen -W "$_sfxpack_codepages" -- "$cur")
        return
        ;;
    --level)
        mapfile -t COMPREPLY < <(compgen -W "0 1 2 3 4 5 6 7 8 9" -- "$cur")
        return
        ;;
    --separator)
        # A backslash goes in doubled, so that the shell passes one.
        COMPREPLY=()
        [[ / == "$cur"* ]] && COMPREPLY+=(/)
        [[ '\\' == "$cur"* ]] && COMPREPLY+=('\\')
        return
        ;;
    esac

    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$_sfxpack_options" -- "$cur")
        [[ ${COMPREPLY[*]} == *= ]] && compopt -o nospace 2>/dev/null
        return
    fi
    # A PATH is found in the -C folder.
    local folder
    folder=$(_sfxpack_folder)
    compopt -o filenames 2>/dev/null
    if [[ -n $folder ]]; then
        mapfile -t COMPREPLY < <(cd -- "$folder" 2>/dev/null && compgen -f -- "$cur")
    else
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    fi
}

complete -F _sfxpack sfxpack
