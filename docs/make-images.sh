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
    -R 'SettingsWindowTest.OpeningShowsTheStoredValues|AppTest.TrayButtonDownOpensThePopupMenu|AppTest.AboutBoxKeepsPollingAndWritesTheModeBack|ScaleTest.TrayIcon|ScaleTest.RunningProgramLaysOutItsSettingsWindowForTheScale|ScaleTest.RunningProgramLaysOutItsProgramsWindow|ScaleTest.TrayMenuInEachLanguage')
# The Custom Settings window, the programs window, the About box and (in
# Korean) the tray menu again at 150 %, the tray icon at 150 and 200 % as well.
set_display_scale 144 gulim
(cd "$BUILD_DIR" && LUMO2_LOGPIXELS=144 ctest --output-on-failure --timeout 120 \
    -R 'ScaleTest.RunningProgramLaysOutItsSettingsWindowForTheScale|ScaleTest.RunningProgramLaysOutItsProgramsWindow|ScaleTest.TrayIcon|ScaleTest.TrayMenuInEachLanguage')
set_display_scale 192 gulim
(cd "$BUILD_DIR" && LUMO2_LOGPIXELS=192 ctest --output-on-failure --timeout 120 -R 'ScaleTest.TrayIcon')
set_display_scale 96 gulim
shots=$BUILD_DIR/screenshots
# Ready and not ready side by side at 16, 24 and 32 pixels, cut from the
# taskbar where its two pictures differ, and the tip below them.
icons=()
for scale in 100 150 200; do
    ready=$shots/taskbar-ready-$scale.bmp
    dimmed=$shots/taskbar-not-ready-$scale.bmp
    [ -e "$ready" ] && [ -e "$dimmed" ] || { echo "make-images: no taskbar at $scale %" >&2; exit 1; }
    read -r width left < <(convert "$ready" "$dimmed" -compose difference -composite -threshold 1% -trim \
        -format '%w %X\n' info:)
    height=$(identify -format '%h' "$ready")
    convert "$ready" "$dimmed" -crop "$((width + 8))x$height+$((left - 4))+0" +repage +append \
        -bordercolor white -border 4x0 "$shots/tray-icons-$scale.bmp"
    icons+=("$shots/tray-icons-$scale.bmp")
done
[ -e "$shots/tray-tip-100.bmp" ] || { echo "make-images: no tip" >&2; exit 1; }
convert -background white \( "${icons[@]}" -gravity center +append \) \
    \( "$shots/tray-tip-100.bmp" -bordercolor white -border 4 \) -gravity west -append \
    -strip "$REPO_DIR/docs/tray-status.png"
echo docs/tray-status.png
# The programs window at 100 % comes as programs-window-100.
[ -e "$shots/programs-window-100.bmp" ] && mv "$shots/programs-window-100.bmp" "$shots/programs-window.bmp"
for name in custom-settings tray-menu about-box custom-settings-150 about-box-150 programs-window programs-window-150 \
            custom-settings-ko-100 tray-menu-ko-100 about-box-ko-100 \
            custom-settings-ko-150 tray-menu-ko-150 about-box-ko-150; do
    shot="$BUILD_DIR/screenshots/$name.bmp"
    [ -e "$shot" ] || { echo "make-images: no screenshot $name" >&2; exit 1; }
    # No time stamps in the files, so that unchanged pictures stay unchanged.
    convert "$shot" -strip "$REPO_DIR/docs/$name.png"
    echo "docs/$name.png"
done
