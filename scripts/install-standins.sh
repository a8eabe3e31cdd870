#!/usr/bin/env bash
# Installs the stand-ins into the Wine prefix named by WINEPREFIX: starts the
# joystick driver as a kernel service, puts the extension-unit stand-in into
# the system folder and forgets any simulated camera. The other stand-in
# libraries are loaded from the build's bin folder.
set -euo pipefail
BIN_DIR=${1:?usage: install-standins.sh BIN_DIR}
: "${WINEPREFIX:?WINEPREFIX must name the prefix}"

# The camera vendor's setup puts UExProc.dll into the system folder, the one
# place an elevated Lumo2 outside Program Files takes it from; under Wine
# every process is elevated, so the stand-in goes there too.
cp "$BIN_DIR/UExProc.dll" "$WINEPREFIX/drive_c/windows/system32/"
drivers="$WINEPREFIX/drive_c/windows/system32/drivers"
cp "$BIN_DIR/ppjoy_standin.sys" "$drivers/"
if ! wine sc query PPJoyStandin </dev/null 2>/dev/null | grep -q STATE; then
    # The service manager needs an absolute binary path to load a driver.
    wine sc create PPJoyStandin type= kernel start= demand \
        binPath= 'C:\windows\system32\drivers\ppjoy_standin.sys' </dev/null >/dev/null 2>&1
    # A new driver service can only be started once the prefix's services
    # have been reloaded, which a restart of its server does.
    wineserver -k </dev/null >/dev/null 2>&1 || true
    wineserver -w </dev/null >/dev/null 2>&1 || true
    wineserver -p </dev/null >/dev/null 2>&1
fi
# The first driver start in a new prefix can time out while winedevice.exe
# itself comes up; a second try finds it ready.
for attempt in 1 2 3 4 5; do
    wine net start PPJoyStandin </dev/null >/dev/null 2>&1 || true
    if wine sc query PPJoyStandin </dev/null 2>/dev/null | grep -q RUNNING; then
        break
    fi
    [ "$attempt" -eq 5 ] && { echo "install-standins: the joystick stand-in driver did not start" >&2; exit 1; }
    sleep 1
done
wine "$BIN_DIR/camsim.exe" detach </dev/null >/dev/null 2>&1
