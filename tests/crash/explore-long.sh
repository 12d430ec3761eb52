#!/usr/bin/env bash
# The crash-state explorer at length: a few hundred states drawn at every point of each
# scenario's log (the suite draws a handful). Usage: tests/crash/explore-long.sh [BUILD] [STATES]
# BUILD defaults to build/default; STATES (per point) to 1000.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/default}
states=${2:-1000}
cmake --build "$build" --target crash_state_tests
PELLUCOR_CRASH_STATES=$states "$build/tests/crash_state_tests"
