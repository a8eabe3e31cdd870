#!/usr/bin/env bash
# The long runs kept out of every test run: device changes with a press after
# each against the running Lumo2.exe on both camera routes (10,000 each), and
# generated start-ups (50), printing their figures.
# Usage: scripts/soak.sh [device changes per route] [start-ups]
set -euo pipefail
source "$(dirname "$0")/testbed.sh"

export LUMO2_ENDURANCE_ROUNDS=${1:-10000}
export LUMO2_FUZZ_STARTS=${2:-50}

bash "$REPO_DIR/scripts/install-deps.sh"
build_project
start_testbed
bash "$REPO_DIR/scripts/install-standins.sh" "$BIN_DIR"
log=$BUILD_DIR/soak.log
status=0
(cd "$BUILD_DIR" && ctest -V --timeout 7200 \
    -R 'EnduranceTest|GeneratedStoredValuesLetTheProgramStart') >"$log" 2>&1 || status=$?
grep -E '^[0-9]+: (endurance|generated)|tests passed|tests failed|Failure' "$log" | sed -E 's/^[0-9]+: //'
echo "full log: $log"
exit $status
