#!/usr/bin/env bash
# Installs what is missing, builds Lumo2 and its stand-ins, and runs every
# test under Wine.
set -euo pipefail
source "$(dirname "$0")/testbed.sh"

bash "$REPO_DIR/scripts/install-deps.sh"
build_project
start_testbed
bash "$REPO_DIR/scripts/install-standins.sh" "$BIN_DIR"
cd "$BUILD_DIR"
ctest --output-on-failure --timeout 120 "$@"
