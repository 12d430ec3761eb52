#!/usr/bin/env bash
# Rebuilds the same repositories with the Linux pellucor and with each given pellucor-cli.exe
# under Wine, and fails unless the two UserConfig.hdb files are identical byte for byte, the
# repositories end with the same names, the exit codes agree and the status lines are identical
# but for the path separators (and the console's CR LF line ends).
#
#   tests/cli/compare_builds.sh LINUX_PELLUCOR WINE_RUNNER WINDOWS_CLI...
#
# The repositories: the bundled sample, and one in mixed case (a "Users" folder, summaries named
# usersummary.rtf and USERSUMMARY.RTF, folder names whose byte order and case-free order differ,
# an old userconfig.hdb and a UserConfig.hdb.OLD already taken).
set -euo pipefail

if [ $# -lt 3 ]; then
  echo "usage: $0 LINUX_PELLUCOR WINE_RUNNER WINDOWS_CLI..." >&2
  exit 2
fi
source_root=$(cd "$(dirname "$0")/../.." && pwd)
linux=$(realpath "$1")
runner=$(realpath "$2")
shift 2

scratch=$(mktemp -d "${TMPDIR:-/tmp}/pellucor-compare.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# An old database, as a previous rebuild left it: the same bytes go into every copy.
mkdir "$scratch/previous"
cp -R "$source_root/examples/repository/." "$scratch/previous/"
# The sample has a user without a summary, so that rebuild ends with 3 (completed with losses).
previous_rc=0
"$linux" --batch "$scratch/previous" >/dev/null 2>&1 || previous_rc=$?
if [ "$previous_rc" -ne 0 ] && [ "$previous_rc" -ne 3 ]; then
  echo "the old database could not be made (exit $previous_rc)" >&2
  exit 1
fi

make_sample() { cp -R "$source_root/examples/repository/." "$1/"; }

make_mixed_case() {
  local repo=$1 data=$source_root/tests/data users=$1/Users
  mkdir -p "$users/0000000B" "$users/0000000a" "$users/AAAA0002" "$users/0000001F" "$users/_archive" \
           "$users/aaaa0001"
  cp "$data/libreoffice_erin.rtf" "$users/0000000B/usersummary.rtf"
  cp "$data/pandoc_dave.rtf" "$users/0000000a/USERSUMMARY.RTF"
  cp "$source_root/examples/repository/users/00000002/UserSummary.rtf" "$users/AAAA0002/UserSummary.rtf"
  cp "$data/pandoc_dave.rtf" "$users/aaaa0001/UserSummary.rtf"
  echo "a file among the user folders" >"$users/notes.TXT"
  cp "$scratch/previous/UserConfig.hdb" "$repo/userconfig.hdb"
  echo "an older set-aside database" >"$repo/UserConfig.hdb.OLD"
}

# The console's lines with the repository's path and separators made neutral.
neutral() { sed -e 's/\r$//' -e "s|$2|<repository>|g" -e 's|\\|/|g' "$1"; }

failures=0
compare() {
  local kind=$1 exe=$2 name
  name=$(basename "$(dirname "$(dirname "$exe")")")-$kind
  local linux_repo=$scratch/$name/linux windows_repo=$scratch/$name/windows
  mkdir -p "$linux_repo" "$windows_repo"
  "make_$kind" "$linux_repo"
  "make_$kind" "$windows_repo"

  local linux_rc=0 windows_rc=0 windows_path
  windows_path="Z:$(echo "$windows_repo" | sed 's|/|\\|g')"
  "$linux" --batch "$linux_repo" >"$scratch/$name/linux.out" || linux_rc=$?
  "$runner" "$exe" --batch "$windows_path" >"$scratch/$name/windows.out" 2>"$scratch/$name/windows.err" || windows_rc=$?

  local problems=()
  [ "$linux_rc" = "$windows_rc" ] || problems+=("exit codes differ: Linux $linux_rc, Windows $windows_rc")
  if ! cmp -s "$linux_repo/UserConfig.hdb" "$windows_repo/UserConfig.hdb"; then
    problems+=("the UserConfig.hdb files differ")
    cmp "$linux_repo/UserConfig.hdb" "$windows_repo/UserConfig.hdb" || true
  fi
  if ! diff <(cd "$linux_repo" && find . | LC_ALL=C sort) <(cd "$windows_repo" && find . | LC_ALL=C sort); then
    problems+=("the repositories hold different names afterwards")
  fi
  local windows_prefix
  windows_prefix=$(printf '%s' "$windows_path" | sed 's|\\|\\\\|g')
  if ! diff <(neutral "$scratch/$name/linux.out" "$linux_repo") \
            <(neutral "$scratch/$name/windows.out" "$windows_prefix"); then
    problems+=("the status lines differ")
  fi
  if [ ${#problems[@]} -eq 0 ]; then
    echo "same bytes: $kind repository, Linux and $(basename "$exe") ($name)"
  else
    failures=$((failures + 1))
    printf 'DIFFERENT: %s repository, Linux and %s: %s\n' "$kind" "$exe" "$(IFS=';'; echo "${problems[*]}")"
    sed 's/^/  linux:   /' "$scratch/$name/linux.out"
    sed 's/^/  windows: /' "$scratch/$name/windows.out" "$scratch/$name/windows.err"
  fi
}

for exe in "$@"; do
  exe=$(realpath "$exe")
  compare sample "$exe"
  compare mixed_case "$exe"
done
exit $((failures > 0))
