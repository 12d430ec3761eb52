#!/usr/bin/env bash
# Rebuilds killed at random moments, and rebuilds of one repository started side by side.
#   tests/stress/kills_and_concurrent_runs.sh PELLUCOR HDBTOOL [KILLS [RUNS [AT_ONCE]]]
# Kills: each run of a repository holding an old database gets SIGKILL after a random part of a
# whole run's time; afterwards the old database's bytes must still be there (in place or under
# a set-aside name), and the next run must complete (no lock left behind blocks it) with the
# database a fault-free run writes. Concurrent: RUNS runs, AT_ONCE at a time, on one repository;
# each completes or says the repository is busy (exit 1), and after each group the database is
# sound and the one a fault-free run writes, and every old database is kept. Prints the figures.
set -uo pipefail
pellucor=$1
hdbtool=$2
kills=${3:-70}
runs=${4:-60}
at_once=${5:-6}
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/pellucor-stress.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "!! $*"
  failures=$((failures + 1))
}

# A repository big enough for a kill to land inside the run: the sample's users and 300 more,
# without the sample's entry that has no summary (a fault-free run completes with exit 0).
template=$work/template
cp -R "$root/examples/repository" "$template"
rm -rf "$template/users/0000000a"
for i in $(seq 256 555); do
  folder=$template/users/$(printf %08x "$i")
  mkdir -p "$folder"
  cp "$template/users/00000002/UserSummary.rtf" "$folder/"
done
# The old database every run below finds: one user more than the runs will write.
mkdir -p "$template/users/00000fff"
cp "$template/users/00000002/UserSummary.rtf" "$template/users/00000fff/"
"$pellucor" --batch "$template" >/dev/null 2>&1 || { echo "the fault-free run failed"; exit 1; }
rm -rf "$template/users/00000fff"
cp "$template/UserConfig.hdb" "$work/old.hdb"
"$pellucor" --batch "$template" >/dev/null 2>&1 || { echo "the second fault-free run failed"; exit 1; }
"$hdbtool" dump "$template/UserConfig.hdb" >"$work/expected.dump"
cmp -s "$template/UserConfig.hdb" "$work/old.hdb" && { echo "the old database must differ from a new one"; exit 1; }

start=$(date +%s%N)
"$pellucor" --batch "$template" >/dev/null 2>&1
run_ns=$(($(date +%s%N) - start))

fresh() {  # $1: the repository's folder
  rm -rf "$1"
  mkdir -p "$1"
  cp -R "$template/users" "$1/"
  cp "$work/old.hdb" "$1/UserConfig.hdb"
}

old_kept() {  # $1: the repository's folder
  for file in "$1"/UserConfig.hdb "$1"/UserConfig.hdb.old*; do
    [ -f "$file" ] && cmp -s "$file" "$work/old.hdb" && return 0
  done
  return 1
}

new_is_expected() {  # $1: the repository's folder
  "$hdbtool" verify "$1/UserConfig.hdb" >/dev/null 2>&1 &&
    "$hdbtool" dump "$1/UserConfig.hdb" | cmp -s - "$work/expected.dump"
}

landed=0
for ((i = 1; i <= kills; i++)); do
  repo=$work/kill
  fresh "$repo"
  delay_ns=$((RANDOM * run_ns / 32768))
  "$pellucor" --batch "$repo" >/dev/null 2>&1 &
  pid=$!
  sleep "$(printf '0.%09d' "$delay_ns")"
  if kill -KILL "$pid" 2>/dev/null; then landed=$((landed + 1)); fi
  wait "$pid" 2>/dev/null
  old_kept "$repo" || fail "kill $i after $((delay_ns / 1000)) us: the old database is gone"
  "$pellucor" --batch "$repo" >"$work/out" 2>"$work/err" ||
    fail "kill $i: the next run exited $? ($(tail -n 1 "$work/err"))"
  new_is_expected "$repo" || fail "kill $i: the next run did not write the fault-free database"
  old_kept "$repo" || fail "kill $i: the next run lost the old database"
done

completed=0
busy=0
repo=$work/concurrent
fresh "$repo"
for ((started = 0; started < runs; started += at_once)); do
  pids=()
  for ((j = 0; j < at_once && started + j < runs; j++)); do
    "$pellucor" --batch "$repo" >"$work/out.$j" 2>"$work/err.$j" &
    pids+=($!)
  done
  for j in "${!pids[@]}"; do
    wait "${pids[$j]}"
    status=$?
    if [ "$status" -eq 0 ]; then
      completed=$((completed + 1))
    elif [ "$status" -eq 1 ] && grep -q "is busy" "$work/err.$j"; then
      busy=$((busy + 1))
    else
      fail "concurrent run $((started + j + 1)) exited $status: $(tail -n 1 "$work/err.$j")"
    fi
  done
  new_is_expected "$repo" || fail "after concurrent runs $((started + 1))..$((started + ${#pids[@]})): not the fault-free database"
  old_kept "$repo" || fail "after concurrent runs $((started + 1))..: the first old database is gone"
done

echo "kills: $kills runs killed ($landed while running; a whole run takes $((run_ns / 1000000)) ms)"
echo "concurrent: $runs runs, $at_once at a time: $completed completed, $busy said busy"
echo "failures: $failures"
[ "$failures" -eq 0 ]
