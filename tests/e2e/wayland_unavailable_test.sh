#!/usr/bin/env bash
# A Wayland session whose desktop offers no screen capture: no ScreenCast
# portal (no session bus at all) and no compositor to copy from (the named
# display does not exist). The program says so in a box and goes on
# recording what X11 shows, here the whole Xvfb screen (1920 x 1080), and
# the area is marked as on X11, by clicks (no frozen stream picture to drag
# over: there is no stream).
source "$(dirname "$0")/e2e_common.bash"

export WAYLAND_DISPLAY="$E2E_ROOT/no-such-wayland-display"
unset DBUS_SESSION_BUS_ADDRESS

NO_CAPTURE_BOX='^Framory$'
seed_project clips "OutputType=11" "TimerValue=100" "UseDesktopWindow=1" "UseMainAppWindow=0"
start_framory
require "a box says the desktop offers no screen capture" wait_window "$NO_CAPTURE_BOX"
require "Enter closes it" dismiss_box "$NO_CAPTURE_BOX"
open_project
require "Ctrl+Shift starts the recorder" toggle_recorder_to Active
require "recording creates movie0.avi" wait_until "$E2E_WAIT" test -e "$PROJECT_FOLDER/movie0.avi"
sleep 1
require "Ctrl+Shift pauses the recorder" toggle_recorder_to Paused
require "'Area' is clicked" click_options_control 275 50 31 10
require "the question 'Record User Specified Desktop Area' appears" \
  wait_window '^Record User Specified Desktop Area$'
require "Enter answers Yes" dismiss_box '^Record User Specified Desktop Area$'
require "the X11 instructions 'How To Set User Specified Desktop Area' appear" \
  wait_window '^How To Set User Specified Desktop Area$'
check "no frozen picture to drag over" window_gone '^Mark the area$'
require "Enter closes the instructions" dismiss_box '^How To Set User Specified Desktop Area$'
exit_with_escape
size=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 \
  "$PROJECT_FOLDER/movie0.avi" | tr , x)
check "the clip is of the X screen, $(screen_size) (got ${size:-nothing})" \
  test "$size" = "$(screen_size)"
e2e_finish
