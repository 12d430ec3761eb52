#!/usr/bin/env bash
# The bash completions: what each script offers for a few typical lines.
#   completion_test.sh SOURCE-FOLDER WORK-FOLDER
set -u
source_folder=$1
work=$2
rm -rf "$work" && mkdir -p "$work/repo/users" "$work/other" && : >"$work/old.hdb"
cd "$work" || exit 1
# shellcheck source=/dev/null
source "$source_folder/packaging/completion/pellucor.bash"
# shellcheck source=/dev/null
source "$source_folder/packaging/completion/hdbtool.bash"

failures=0
# complete FUNCTION WORD... : what FUNCTION offers for the last WORD, one per line, sorted.
complete_line() {
    local function=$1
    shift
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    "$function"
    printf '%s\n' "${COMPREPLY[@]}" | sort
}
expect() {
    local expected=$1
    shift
    local got
    got=$(complete_line "$@")
    if [ "$got" != "$expected" ]; then
        echo "FAIL: '${*:2}' offered [${got//$'\n'/ }], expected [${expected//$'\n'/ }]"
        failures=$((failures + 1))
    fi
}

expect verify _hdbtool hdbtool ver
expect $'salvage\nstat' _hdbtool hdbtool s
expect $'dump\nexport\nhelp\nimport\nrecover\nsalvage\nstat\nverify' _hdbtool hdbtool ''
expect --json _hdbtool hdbtool dump --j
expect --force _hdbtool hdbtool salvage --f
expect '' _hdbtool hdbtool export --j
expect old.hdb _hdbtool hdbtool verify ol
expect verify _hdbtool hdbtool help ver
expect $'--batch\n--batch=' _pellucor pellucor --ba
expect --keep-from _pellucor pellucor --batch --k
expect $'old.hdb\nother' _pellucor pellucor --batch repo --keep-from o  # folders too, to go down into
expect repo _pellucor pellucor re
expect --batch=repo _pellucor pellucor --batch=r

if [ $failures -gt 0 ]; then
    echo "$failures completion checks failed"
    exit 1
fi
echo "every completion check passed"
