#!/usr/bin/env bash
# The real program in a Wayland session: a headless sway desktop (with the
# ScreenCast portal, which refuses to start a stream on a machine without a
# GPU) for the screen, and an Xvfb beside it standing in for XWayland, where
# the program's own windows and the key chords live. The program must record
# sway's screen, not the X server's: an uncompressed clip of sway's size
# (640 x 480, the X screen is larger) whose pictures show sway's background,
# first red, then, after the test changes it with swaymsg, blue.
#
# Run by CMake as with-xvfb.sh -- with-sway.sh --env ... -- this script.
if [ -z "${WAYLAND_DISPLAY:-}" ] || [ -z "${SWAYSOCK:-}" ]; then
  echo "no sway session: run the test through tests/support/with-sway.sh" >&2
  exit 2
fi
# The common steps give the program a runtime folder of its own; the
# compositor's socket is named by its full path instead.
case "$WAYLAND_DISPLAY" in
  /*) ;;
  *) export WAYLAND_DISPLAY="$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" ;;
esac
source "$(dirname "$0")/e2e_common.bash"

sway_background() { swaymsg output "${FRAMORY_SWAY_OUTPUT:-HEADLESS-1}" bg "$1" solid_color >/dev/null; }
file_size() { stat -c %s "$1" 2>/dev/null || echo 0; }

sway_background '#c81e28'
seed_project clips "OutputType=11" "TimerValue=100" "TakeShotOnTimer=1" "UseDesktopWindow=1" \
  "UseMainAppWindow=0" "PutCursorInBitmap=0"
start_and_open_project

clip="$PROJECT_FOLDER/movie0.avi"
require "Ctrl+Shift starts the recorder" toggle_recorder_to Active
require "recording creates movie0.avi" wait_until "$E2E_WAIT" test -e "$clip"
sleep 2
sway_background '#0a14e6'
sleep 2
require "Ctrl+Shift pauses the recorder" toggle_recorder_to Paused
exit_with_escape

info=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 "$clip")
check "movie0.avi has sway's size, 640x480 (got ${info:-nothing})" test "$info" = "640,480"
# The first and the last picture, one pixel each from the middle.
first=$(ffmpeg -v error -i "$clip" -frames:v 1 -vf crop=1:1:320:240 -f rawvideo -pix_fmt rgb24 - |
  od -An -tx1 | tr -d ' \n')
last=$(ffmpeg -v error -sseof -0.5 -i "$clip" -vf crop=1:1:320:240 -f rawvideo -pix_fmt rgb24 - |
  od -An -tx1 | tr -d ' \n' | tail -c 6)
check "the first picture shows sway's red background (got ${first:-nothing})" test "$first" = c81e28
check "the last picture shows the blue it was changed to (got ${last:-nothing})" test "$last" = 0a14e6
e2e_finish
