#!/usr/bin/env bash
# Signals and a closed pipe during a rebuild of a repository large enough to be caught
# mid-import: the run finishes, exits with its own code, and hdbtool reads a complete database.
# A second run meanwhile is refused as busy.
# Called by CTest: pellucor_signals_test.sh PELLUCOR HDBTOOL WORK [EMULATOR]
# With an emulator (Wine) the programs are Windows ones: Wine hands them SIGINT as Ctrl-C, which
# their console control handler takes; SIGTERM and SIGHUP have no Windows meaning and are not sent.
set -uo pipefail
set -m  # without job control, bash starts background jobs with SIGINT ignored
pellucor=$1 hdbtool=$2 work=$3 emulator=${4:-}
users=${USERS:-2000}
failures=0
signals=(INT TERM HUP)
[ -n "$emulator" ] && signals=(INT)

# A path as the program under test takes it: under Wine, the Linux path on drive Z:.
native() {
  if [ -n "$emulator" ]; then
    local path=${1//\//\\}
    printf 'Z:%s' "$path"
  else
    printf '%s' "$1"
  fi
}
run() { ${emulator:+"$emulator"} "$@"; }

fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

rm -rf "$work"
mkdir -p "$work/template/users"
ids=()
for ((i = 2; i < users + 2; i++)); do ids+=("$(printf '%08x' "$i")"); done
(cd "$work/template/users" && mkdir "${ids[@]}")
for id in "${ids[@]}"; do
  printf '{\\rtf1\\ansi\nUser Name: user %s\\par\n}\n' "$id" >"$work/template/users/$id/UserSummary.rtf"
done

# The accounts under Client List in a dump: the keys two levels down after its line.
accounts_in() {
  awk '{ sub(/\r$/, "") } /^  [^ ]/ { inside = ($0 == "  Client List") } inside && /^    [^ ]/ { n++ } END { print n + 0 }' "$1"
}

# Checks the repository after a run that must have completed.
check_complete() {
  local what=$1 repo=$2
  local database=$repo/UserConfig.hdb
  if ! run "$hdbtool" dump "$(native "$database")" >"$repo.dump" 2>"$repo.dump-err"; then
    fail "$what: hdbtool dump cannot read the database: $(cat "$repo.dump-err")"
    return
  fi
  local found
  found=$(accounts_in "$repo.dump")
  [ "$found" -eq "$users" ] || fail "$what: $found accounts in the database, expected $users"
  [ ! -e "$database.mirror" ] || fail "$what: the mirror was left behind"
  [ ! -e "$database.lock" ] || fail "$what: the lock file was left behind"
}

# Waits until the run has printed `lines` status lines; false when it ended first.
wait_for_lines() {
  local pid=$1 out=$2 lines=$3
  local seen
  for ((tries = 0; tries < 3000; tries++)); do
    seen=$(grep -c '^Processing user ID' "$out" 2>/dev/null)
    [ "${seen:-0}" -ge "$lines" ] && return 0
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.01
  done
  return 1
}

# Waits until `file` holds `text`; false when the process ended first.
wait_for_text() {
  local pid=$1 file=$2 text=$3
  for ((tries = 0; tries < 3000; tries++)); do
    grep -q "$text" "$file" 2>/dev/null && return 0
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.01
  done
  return 1
}

for signal in "${signals[@]}"; do
  repo=$work/repo-$signal
  cp -R "$work/template" "$repo"
  # A simple command, so that the signals reach the program itself (Wine keeps its process).
  ${emulator:+"$emulator"} "$pellucor" --batch "$(native "$repo")" >"$repo.out" 2>"$repo.err" &
  pid=$!
  if ! wait_for_lines "$pid" "$repo.out" 50; then
    fail "SIG$signal: the run was not caught mid-import"
    wait "$pid"
    continue
  fi
  if [ "$signal" = "${signals[-1]}" ]; then
    # The repository is held by the run: a second one is refused and changes nothing.
    run "$pellucor" --batch "$(native "$repo")" >"$repo.second-out" 2>"$repo.second-err"
    rc=$?
    [ "$rc" -eq 1 ] || fail "a second run at once exited $rc, expected 1"
    grep -q 'is busy: another rebuild of it is running' "$repo.second-err" || fail "the second run did not say busy"
    [ ! -s "$repo.second-out" ] || fail "the second run printed status lines"
  fi
  kill "-$signal" "$pid"
  if [ "$signal" = INT ]; then
    # A second signal once the first has been taken (two at once would merge into one).
    if wait_for_text "$pid" "$repo.err" 'finishing the rebuild first'; then
      kill -INT "$pid" || fail "the run ended before a second SIGINT could be sent"
    else
      fail "the first SIGINT was not answered while the run went on"
    fi
  fi
  rc=0
  wait "$pid" || rc=$?
  [ "$rc" -eq 0 ] || fail "SIG$signal: exit $rc, expected the run's own 0; stderr: $(cat "$repo.err")"
  grep -q 'finishing the rebuild first' "$repo.err" || fail "SIG$signal: nothing said the run would finish"
  if [ "$signal" = INT ]; then
    grep -q 'still finishing' "$repo.err" || fail "a second SIGINT did not say the run is still finishing"
  fi
  [ "$(grep -c '^Processing user ID' "$repo.out")" -eq "$users" ] || fail "SIG$signal: not every user was processed"
  tail -n 1 "$repo.out" | grep -q 'Database Restoration Complete' || fail "SIG$signal: no completion message"
  check_complete "SIG$signal" "$repo"
done

# A reader that goes away: the status lines it cannot take are dropped, the run completes and
# the exit code says the output failed.
repo=$work/repo-PIPE
cp -R "$work/template" "$repo"
run "$pellucor" --batch "$(native "$repo")" 2>"$repo.err" | head -n 1 >/dev/null
rc=${PIPESTATUS[0]}
[ "$rc" -eq 4 ] || fail "| head: exit $rc, expected 4; stderr: $(cat "$repo.err")"
grep -q "summary: $users users imported, 0 entries without an account" "$repo.err" || fail "| head: no summary"
check_complete "| head" "$repo"

rm -rf "$work"
if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "all checks passed"
