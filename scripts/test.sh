#!/usr/bin/env bash
# Installs what is missing, builds Lumo2 and its stand-ins, and runs every
# test under Wine. Screenshots of the windows land in build/screenshots.
set -euo pipefail
source "$(dirname "$0")/testbed.sh"

bash "$REPO_DIR/scripts/install-deps.sh"
# Signed with a throw-away certificate, so that the tests check the files as a
# release carries them. Only this build sees it: a build configured without
# LUMO2_SIGN_* in its environment is unsigned and says so.
signing=$BUILD_DIR/test-signing
bash "$REPO_DIR/scripts/make-test-cert.sh" "$signing"
export LUMO2_SIGN_PKCS12=$signing/codesign.p12 LUMO2_SIGN_PASSWORD_FILE=$signing/password.txt \
       LUMO2_SIGN_TSA_CERTS=$signing/tsa-chain.pem LUMO2_SIGN_TSA_KEY=$signing/tsa.key \
       LUMO2_SIGN_CAFILE=$signing/ca.pem
build_project
start_testbed
bash "$REPO_DIR/scripts/install-standins.sh" "$BIN_DIR"
rm -rf "$BUILD_DIR/screenshots"
status=0
(cd "$BUILD_DIR" && ctest --output-on-failure --timeout 120 "$@") || status=$?
# The scale runs below write ctest's log afresh; the figures come from this one.
main_log=$BUILD_DIR/Testing/main-run.log
cp "$BUILD_DIR/Testing/Temporary/LastTest.log" "$main_log" 2>/dev/null || : >"$main_log"
# The windows again at other display scales and without the Korean font;
# each restarts the prefix's server, so they run after everything else.
run_scale_tests "$@" || status=$?
for bmp in "$BUILD_DIR"/screenshots/*.bmp; do
    [ -e "$bmp" ] || continue
    convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
# ctest keeps what passing tests print to itself; the figures of the fuzz,
# stuck-key, start-up, endurance, setup and MSI runs are worth seeing every time.
figures=$(grep -hE '^(registry fuzz|stuck keys|starts|endurance|generated start-ups|setup program|silent uninstall|msi package|Lumo2.exe:)' \
          "$main_log" 2>/dev/null || true)
[ -n "$figures" ] && printf 'figures:\n%s\n' "$figures"
[ -d "$BUILD_DIR/screenshots" ] && echo "screenshots: $BUILD_DIR/screenshots"
exit $status
