#!/usr/bin/env bash
# Installs what is missing, builds Lumo2 and its stand-ins, and runs every
# test under Wine. Screenshots of the windows land in build/screenshots.
set -euo pipefail
source "$(dirname "$0")/testbed.sh"

bash "$REPO_DIR/scripts/install-deps.sh"
build_project
start_testbed
bash "$REPO_DIR/scripts/install-standins.sh" "$BIN_DIR"
rm -rf "$BUILD_DIR/screenshots"
status=0
(cd "$BUILD_DIR" && ctest --output-on-failure --timeout 120 "$@") || status=$?
for bmp in "$BUILD_DIR"/screenshots/*.bmp; do
    [ -e "$bmp" ] || continue
    convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
[ -d "$BUILD_DIR/screenshots" ] && echo "screenshots: $BUILD_DIR/screenshots"
exit $status
