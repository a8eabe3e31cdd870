#!/usr/bin/env bash
# A first run: builds Lumo2.exe, starts it under Wine with a simulated camera
# in front of Wine's Notepad, presses the camera button three times, and
# shows what Notepad received. Ends everything it started.
set -euo pipefail
source "$(dirname "$0")/testbed.sh"

bash "$REPO_DIR/scripts/install-deps.sh"
# Only what the demonstration runs: the tests, the setup program and the MSI
# are for scripts/test.sh.
build_project Lumo2 camsim windowtext lumo2_sim_camera ppjoy_standin UExProc >/dev/null
echo "Built $BIN_DIR/Lumo2.exe ($(stat -c %s "$BIN_DIR/Lumo2.exe") bytes)"
start_testbed
bash "$REPO_DIR/scripts/install-standins.sh" "$BIN_DIR"

fail() { echo "run.sh: $*" >&2; exit 1; }

# Runs the command until it succeeds; false when it has not within the time.
wait_for() {
    local seconds=$1 deadline
    shift
    deadline=$((SECONDS + seconds))
    until "$@"; do
        [ "$SECONDS" -ge "$deadline" ] && return 1
        sleep 0.2
    done
}

# What the edit control of the first window of class $1 holds; the reason on
# stderr when there is none.
window_text() { wine "$BIN_DIR/windowtext.exe" "$1" </dev/null | tr -d '\r'; }
has_window() { window_text "$1" >/dev/null 2>&1; }
window_exists() { wine "$BIN_DIR/windowtext.exe" "$1" exists </dev/null >/dev/null 2>&1; }
notepad_shows() { [ "$(window_text Notepad 2>/dev/null)" = "$1" ]; }

reg() { wine reg add 'HKCU\Software\Kestrova' /v "$1" /t "$2" /d "$3" /f </dev/null >/dev/null 2>&1; }
# Custom Settings, "Send All" with no pause: Shift+H, I, Shift+1 types "Hi!".
reg key REG_DWORD 10
reg mode REG_DWORD 1
reg time REG_DWORD 0
reg key1_alt REG_BINARY 00; reg key1_control REG_BINARY 00; reg key1_shift REG_BINARY 01; reg key1_k REG_DWORD 0x48
reg key2_alt REG_BINARY 00; reg key2_control REG_BINARY 00; reg key2_shift REG_BINARY 00; reg key2_k REG_DWORD 0x49
reg key3_alt REG_BINARY 00; reg key3_control REG_BINARY 00; reg key3_shift REG_BINARY 01; reg key3_k REG_DWORD 0x31

camsim() { wine "$BIN_DIR/camsim.exe" "$@" </dev/null; }
camsim attach driver "USB 2820 Video"
echo "Simulated camera attached as the capture device \"USB 2820 Video\"."

wine notepad </dev/null >/dev/null 2>&1 &
wait_for 60 has_window Notepad || fail "Notepad's window did not appear."
(cd "$BIN_DIR" && wine Lumo2.exe </dev/null >/dev/null 2>&1) &
# The hidden tray window, of the class named in Lumo2's string table.
wait_for 60 window_exists Lumo || fail "Lumo2 did not start (no tray window)."
echo "Lumo2 is running in the notification area, mode \"Custom Settings\" (Send All: Shift+H, I, Shift+1)."

expected=""
for press in 1 2 3; do
    echo "Pressing the camera button ($press)..."
    camsim press 200
    expected="${expected}Hi!"
    wait_for 20 notepad_shows "$expected" || break
done

# Without the check here, set -e would end the script before saying why.
if ! received=$(window_text Notepad 2>&1); then
    fail "Notepad's text could not be read: ${received:-windowtext.exe failed}"
fi
mkdir -p "$BUILD_DIR/screenshots"
shot="$BUILD_DIR/screenshots/first-run-notepad.png"
import -display "$DISPLAY" -window root "$shot" 2>/dev/null || shot="(no screenshot: ImageMagick's import failed)"
echo
echo "Notepad received: \"$received\""
echo "Screenshot: $shot"
[ "$received" = "Hi!Hi!Hi!" ] || fail "expected \"Hi!Hi!Hi!\"."
