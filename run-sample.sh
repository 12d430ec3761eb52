#!/usr/bin/env bash
# Builds pellucor and rebuilds a scratch copy of the bundled sample repository, then lists the
# new database with hdbtool.
set -euo pipefail
cd "$(dirname "$0")"
cmake --preset default >/dev/null
cmake --build --preset default --target pellucor hdbtool >/dev/null
scratch=$(mktemp -d "${TMPDIR:-/tmp}/pellucor-sample.XXXXXX")
cp -R examples/repository/. "$scratch/"
echo "Rebuilding $scratch"
status=0
build/default/app/pellucor --batch "$scratch" || status=$?
ls -l "$scratch"
if [ -f "$scratch/UserConfig.hdb" ]; then
  echo
  echo "hdbtool dump $scratch/UserConfig.hdb"
  build/default/tools/hdbtool dump "$scratch/UserConfig.hdb"
fi
exit "$status"
