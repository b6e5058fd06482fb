#!/usr/bin/env bash
# The real program in a Wayland session: a headless sway desktop (with the
# ScreenCast portal, which refuses to start a stream on a machine without a
# GPU) for the screen, and an Xvfb beside it standing in for XWayland, where
# the program's own windows and the key chords live. The program must record
# sway's screen, not the X server's: an uncompressed clip of sway's size
# (640 x 480, the X screen is larger) whose pictures show sway's background,
# first red, then, after the test changes it with swaymsg, blue. Then an
# area is marked by dragging over the frozen picture of sway's screen, shown
# full-screen on the larger X screen, and the next clip has that area's size
# in sway's pixels.
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
require "'New / End Movie Clip' is clicked" click_options_control 67 155 73 14
require "the clip ends with the 'Starting New Movie Clip' box" wait_window '^Starting New Movie Clip$'
require "Enter closes the box" dismiss_box '^Starting New Movie Clip$'

# The area: from (480, 270) to (960, 540) on the 1920 x 1080 X screen, which
# shows sway's 640 x 480 picture stretched: (160, 120) to (320, 240) in it.
MARKER='^Mark the area$'
require "'Area' is clicked" click_options_control 275 50 31 10
require "the question 'Record User Specified Desktop Area' appears" \
  wait_window '^Record User Specified Desktop Area$'
require "Enter answers Yes" dismiss_box '^Record User Specified Desktop Area$'
require "the frozen picture is shown to mark the area on" wait_window "$MARKER"
check "no right-click instructions where clicks are not seen" \
  window_gone '^How To Set User Specified Desktop Area$'
marker=$(find_window "$MARKER")
xdotool mousemove --window "$marker" 480 270 mousedown 1 mousemove --window "$marker" 700 400 \
  mousemove --window "$marker" 960 540 mouseup 1
require "the marker goes once the area is dragged out" wait_window_gone "$MARKER"
require "a box tells that the area is defined" wait_window '^Framory$'
require "Enter closes the box" dismiss_box '^Framory$'
require "Ctrl+Shift starts the recorder again" toggle_recorder_to Active
require "recording creates movie1.avi" wait_until "$E2E_WAIT" test -e "$PROJECT_FOLDER/movie1.avi"
sleep 1
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
area=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 \
  "$PROJECT_FOLDER/movie1.avi")
# 161 x 121 pixels, the movie rounded up to multiples of 4.
check "movie1.avi has the marked area's size in sway's pixels, 164x124 (got ${area:-nothing})" \
  test "$area" = "164,124"
inside=$(ffmpeg -v error -i "$PROJECT_FOLDER/movie1.avi" -frames:v 1 -vf crop=1:1:80:60 -f rawvideo \
  -pix_fmt rgb24 - | od -An -tx1 | tr -d ' \n')
check "the area shows sway's blue background (got ${inside:-nothing})" test "$inside" = 0a14e6
check "the registry keeps the area in sway's pixels" \
  test "$(registry_value UserAreaLeft),$(registry_value UserAreaTop),$(registry_value UserAreaRight),$(registry_value UserAreaBottom)" = "160,120,320,240"
e2e_finish
