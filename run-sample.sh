#!/usr/bin/env bash
# Builds pellucor and rebuilds a scratch copy of the bundled sample repository.
set -euo pipefail
cd "$(dirname "$0")"
cmake --preset default >/dev/null
cmake --build --preset default --target pellucor >/dev/null
scratch=$(mktemp -d "${TMPDIR:-/tmp}/pellucor-sample.XXXXXX")
cp -R examples/repository/. "$scratch/"
echo "Rebuilding $scratch"
status=0
build/default/app/pellucor --batch "$scratch" || status=$?
ls -l "$scratch"
exit "$status"
