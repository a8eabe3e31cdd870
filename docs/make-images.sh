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
    -R 'SettingsWindowTest.OpeningShowsTheStoredValues|AppTest.TrayButtonDownOpensThePopupMenu|AppTest.AboutBoxKeepsPollingAndWritesTheModeBack|ScaleTest.TrayIcon')
# The Custom Settings window and the About box again at 150 %, the tray
# icon at 150 and 200 % as well.
set_display_scale 144 gulim
(cd "$BUILD_DIR" && LUMO2_LOGPIXELS=144 ctest --output-on-failure --timeout 120 \
    -R 'ScaleTest.RunningProgramLaysOutItsSettingsWindowForTheScale|ScaleTest.TrayIcon')
set_display_scale 192 gulim
(cd "$BUILD_DIR" && LUMO2_LOGPIXELS=192 ctest --output-on-failure --timeout 120 -R 'ScaleTest.TrayIcon')
set_display_scale 96 gulim
shots=$BUILD_DIR/screenshots
for shot in tray-icons-100 tray-icons-150 tray-icons-200 tray-tip-100; do
    [ -e "$shots/$shot.bmp" ] || { echo "make-images: no screenshot $shot" >&2; exit 1; }
done
# Ready and not ready side by side at 16, 24 and 32 pixels, the tip below.
convert -background white \( "$shots/tray-icons-100.bmp" "$shots/tray-icons-150.bmp" "$shots/tray-icons-200.bmp" \
    -gravity center -splice 8x0 +append \) "$shots/tray-tip-100.bmp" -gravity west -splice 0x6 -append \
    -strip "$REPO_DIR/docs/tray-status.png"
echo docs/tray-status.png
for name in custom-settings tray-menu about-box custom-settings-150 about-box-150; do
    shot="$BUILD_DIR/screenshots/$name.bmp"
    [ -e "$shot" ] || { echo "make-images: no screenshot $name" >&2; exit 1; }
    # No time stamps in the files, so that unchanged pictures stay unchanged.
    convert "$shot" -strip "$REPO_DIR/docs/$name.png"
    echo "docs/$name.png"
done
