#!/usr/bin/env bash
# Prints what Lumo2 costs: camera polls and connects and a press's mode from
# 3 x 256 rules for programs, in-process; then, side
# by side with floor programs in one run, press-to-first-key latency at the
# default 100 ms poll and at PollInterval 20 (beside one that polls the same
# simulated latch at the same period and sends one key), at 100 ms again
# with 256 rules for programs at each of the three levels, the tray window's
# answers while a vendor call hangs, and start-up, memory, idle CPU and size
# (beside a tray program that walks the video input devices once; idle CPU
# also beside the latency floor, at 100 ms and at 20 ms).
# It ends with the start-up ratios to the floor: time to waiting for input,
# CPU per start and working set; and the idle CPU ratio at 20 ms. The
# latency runs again with the camera inside Lumo2 (the policy CameraProcess
# 0), the camera process's CPU and memory come beside the start-up figures,
# and restart_bench times presses after a crash and a hang of the camera
# process and crashes it [crashes] times in a row.
#   bash scripts/bench.sh [presses] [idle seconds] [crashes]
#   bash scripts/bench.sh startup [starts]     the start-up figures alone
set -euo pipefail
source "$(dirname "$0")/testbed.sh"

bash "$REPO_DIR/scripts/install-deps.sh"
build_project >/dev/null
start_testbed
bash "$REPO_DIR/scripts/install-standins.sh" "$BIN_DIR"
cd "$BIN_DIR"
if [ "${1:-}" = startup ]; then
    wine app_bench.exe startup "${2:-30}" </dev/null
    exit
fi
wine camera_bench.exe </dev/null
echo
wine app_bench.exe "${1:-200}" "${2:-60}" </dev/null
echo
wine restart_bench.exe "${3:-1000}" </dev/null
