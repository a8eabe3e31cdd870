#!/usr/bin/env bash
# Makes the README's pictures from the running program: the end-to-end tests
# that open the Custom Settings window, the tray menu and the About box save
# what the screen shows of them (the windows also at 150 %), and this script
# keeps those as docs/*.png.
#   bash docs/make-images.sh
set -euo pipefail
source "$(dirname "$0")/../scripts/testbed.sh"

bash "$REPO_DIR/scripts/install-deps.sh"
build_project >/dev/null
start_testbed
bash "$REPO_DIR/scripts/install-standins.sh" "$BIN_DIR"
rm -rf "$BUILD_DIR/screenshots"
(cd "$BUILD_DIR" && ctest --output-on-failure --timeout 120 \
    -R 'SettingsWindowTest.OpeningShowsTheStoredValues|AppTest.TrayButtonDownOpensThePopupMenu|AppTest.AboutBoxKeepsPollingAndWritesTheModeBack')
# The Custom Settings window and the About box again at 150 %.
set_display_scale 144 gulim
(cd "$BUILD_DIR" && LUMO2_LOGPIXELS=144 ctest --output-on-failure --timeout 120 \
    -R 'ScaleTest.RunningProgramLaysOutItsSettingsWindowForTheScale')
for name in custom-settings tray-menu about-box custom-settings-150 about-box-150; do
    shot="$BUILD_DIR/screenshots/$name.bmp"
    [ -e "$shot" ] || { echo "make-images: no screenshot $name" >&2; exit 1; }
    # No time stamps in the files, so that unchanged pictures stay unchanged.
    convert "$shot" -strip "$REPO_DIR/docs/$name.png"
    echo "docs/$name.png"
done
