#!/usr/bin/env bash
# Builds the fuzz targets (cmake --preset fuzz: Clang, libFuzzer, ASan and UBSan) and runs each
# one for SECONDS (default 60) from its seed corpus. Fails on a crash, a leak, a broken property
# or an input slower than a second, and prints the input that did it.
#   tests/fuzz/run-fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
seconds=${1:-60}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

work=$(mktemp -d "${TMPDIR:-/tmp}/pellucor-fuzz-run.XXXXXX")
# The targets' files, in memory where there is such a folder (every database written is flushed).
scratch_base=/dev/shm
[ -d "$scratch_base" ] && [ -w "$scratch_base" ] || scratch_base=$work
export PELLUCOR_FUZZ_SCRATCH
PELLUCOR_FUZZ_SCRATCH=$(mktemp -d "$scratch_base/pellucor-fuzz-files.XXXXXX")
trap 'rm -rf "$work" "$PELLUCOR_FUZZ_SCRATCH"' EXIT
status=0
for source in tests/fuzz/*_fuzz.cpp; do
  name=$(basename "$source" _fuzz.cpp)
  program=$root/build/fuzz/tests/fuzz/${name}_fuzz
  corpus=$work/corpus-$name
  mkdir -p "$corpus"
  args=(-max_total_time="$seconds" -timeout=1 -rss_limit_mb=2048 -print_final_stats=1
        -artifact_prefix="$work/$name-")
  [ -f "tests/fuzz/$name.dict" ] && args+=(-dict="$root/tests/fuzz/$name.dict")
  seeds=()
  [ -d "tests/fuzz/corpus/$name" ] && seeds=("$root/tests/fuzz/corpus/$name")
  echo "== fuzzing $name for ${seconds} s"
  if ! (cd "$work" && "$program" "${args[@]}" "$corpus" "${seeds[@]}"); then
    status=1
    for input in "$work/$name-"*; do
      [ -e "$input" ] || continue
      echo "!! $name failed on this input ($(basename "$input"), $(stat -c %s "$input") bytes):"
      od -A x -t x1z -v "$input" | head -n 400
      echo "!! base64: $(base64 -w0 "$input" | head -c 20000)"
    done
  fi
done
exit $status
