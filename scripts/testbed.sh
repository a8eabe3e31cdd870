# Sourced by the scripts that run Windows code here: builds the project and
# brings up a throw-away 32-bit Wine prefix with its own Xvfb display.
# Everything started is ended again by stop_testbed, by PID or by this
# prefix's own wineserver.

REPO_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$REPO_DIR/build}
BIN_DIR=$BUILD_DIR/bin

# Builds the named targets, or everything without any.
build_project() {
    cmake -S "$REPO_DIR" -B "$BUILD_DIR" \
        -DCMAKE_TOOLCHAIN_FILE="$REPO_DIR/cmake/i686-mingw32.cmake" >/dev/null
    cmake --build "$BUILD_DIR" -j "$(nproc)" ${1:+--target "$@"}
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
    map_gulim
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

map_gulim() {
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v GULIM /t REG_SZ /d NanumGothic /f \
        </dev/null >/dev/null 2>&1
    map_malgun
}

# Malgun Gothic, the Korean face of every Windows since 8 whatever its
# language, is there in every run, also where GULIM is not.
map_malgun() {
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Malgun Gothic' /t REG_SZ /d NanumGothic /f \
        </dev/null >/dev/null 2>&1
}

# Sets the prefix's display scale (LogPixels: 96 is 100 %, 144 is 150 %) and
# whether GULIM is mapped to NanumGothic (gulim) or missing (nogulim), as on
# a Windows that is not Korean. Wine reads both when its server starts, so
# the server is restarted, again with its output away from any pipe.
set_display_scale() {
    local dpi=$1 font=${2:-gulim}
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f </dev/null >/dev/null 2>&1
    wine reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
        /v LogPixels /t REG_DWORD /d "$dpi" /f </dev/null >/dev/null 2>&1
    if [ "$font" = gulim ]; then
        map_gulim
    else
        wine reg delete 'HKCU\Software\Wine\Fonts\Replacements' /v GULIM /f </dev/null >/dev/null 2>&1 || true
        map_malgun
    fi
    wineserver -k </dev/null >/dev/null 2>&1 || true
    wineserver -w </dev/null >/dev/null 2>&1 || true
    wineserver -p </dev/null >/dev/null 2>&1
    # The session's services and drivers start with the first Wine process;
    # started by ctest, they would hold its pipes open as the server would.
    wineboot </dev/null >/dev/null 2>&1
}

# The tests labelled "scale" at 125 % without GULIM, then at 150, 200 and
# 250 %; the prefix is left at 100 % with GULIM. Extra arguments go to ctest.
run_scale_tests() {
    local status=0 run dpi font
    for run in 120:nogulim 144:gulim 192:gulim 240:gulim; do
        dpi=${run%%:*} font=${run#*:}
        set_display_scale "$dpi" "$font"
        echo "scale tests at LogPixels $dpi ($font)"
        (cd "$BUILD_DIR" && LUMO2_LOGPIXELS=$dpi LUMO2_GULIM=$([ "$font" = gulim ] && echo present || echo absent) \
            ctest --output-on-failure --timeout 120 -L scale "$@") || status=$?
    done
    set_display_scale 96 gulim
    return $status
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
