# Sourced by the scripts that run Windows code here: builds the project and
# brings up a throw-away 32-bit Wine prefix with its own Xvfb display.
# Everything started is ended again by stop_testbed, by PID or by this
# prefix's own wineserver.

REPO_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$REPO_DIR/build}
BIN_DIR=$BUILD_DIR/bin

build_project() {
    cmake -S "$REPO_DIR" -B "$BUILD_DIR" \
        -DCMAKE_TOOLCHAIN_FILE="$REPO_DIR/cmake/i686-mingw32.cmake" >/dev/null
    cmake --build "$BUILD_DIR" -j "$(nproc)"
}

XVFB_PID=""

start_testbed() {
    export WINEPREFIX=$BUILD_DIR/wineprefix
    export WINEARCH=win32
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    # A server left from an interrupted run would keep the old prefix alive.
    [ -d "$WINEPREFIX" ] && wineserver -k </dev/null >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"

    local display=99
    while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
        display=$((display + 1))
    done
    Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$display"
    trap stop_testbed EXIT

    # The server must exist before any test runner starts a Wine process, or
    # it inherits the runner's output pipes and the runner never finishes.
    wineserver -p </dev/null >/dev/null 2>&1
    wineboot -i </dev/null >/dev/null 2>&1
    # The settings window asks for "GULIM" with the Hangul character set; on
    # Windows the font mapper finds a Hangul font, here the prefix has none
    # until it is told to use NanumGothic (fonts-nanum) in its place.
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v GULIM /t REG_SZ /d NanumGothic /f \
        </dev/null >/dev/null 2>&1
    # Windows open on a Wine desktop of the display's size. Wine then draws
    # the captions itself (the display has no window manager), and tray
    # icons live in the desktop's taskbar, where removing one is immediate;
    # without it each exit of Lumo2 waited 2 s in NIM_DELETE.
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /t REG_SZ /d Default /f </dev/null >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /t REG_SZ /d 1280x1024 /f \
        </dev/null >/dev/null 2>&1
    # A crashing test should fail, not sit in Wine's debugger until timeout.
    wine reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f \
        </dev/null >/dev/null 2>&1 || true
}

stop_testbed() {
    if [ -n "${WINEPREFIX:-}" ]; then
        wineserver -k </dev/null >/dev/null 2>&1 || true
    fi
    if [ -n "$XVFB_PID" ]; then
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
        XVFB_PID=""
    fi
}
