#!/usr/bin/env bash
# A series of PNG pictures taken with Print Screen, from start to exit.
#
# The stored settings turn on "Any key pressed" and "Mouse Click" besides PNG
# output: the first showing of the options view must replace them by
# "Ctrl-Print Screen" alone, so each Print Screen press gives exactly one
# picture and nothing is taken while the recorder is paused.
source "$(dirname "$0")/e2e_common.bash"

seed_project shots "OutputType=3" \
  "UseDesktopWindow=1" "UseMainAppWindow=0" "TakeShotOnKey=1" "TakeShotOnClick=1"
size=$(screen_size)

start_and_open_project

valid_png() {
  local info
  info=$(identify -regard-warnings -format '%m %wx%h' "$1" 2>/dev/null) || return 1
  [ "$info" = "PNG $size" ]
}

# A Print Screen press while paused takes nothing. The chord after it is read
# from the same input stream, so once the title shows the recorder active the
# press has been handled.
xdotool key Print
require "Ctrl+Shift starts the recorder" toggle_recorder_to Active
check "no picture was taken while paused" test "$(pictures)" = 0

for i in 0 1 2; do
  xdotool key Print
  check "Print Screen press $((i + 1)) writes pic$i.png, a valid ${size} PNG" \
    wait_until "$E2E_WAIT" valid_png "$PROJECT_FOLDER/pic$i.png"
done

require "Ctrl+Shift pauses the recorder" toggle_recorder_to Paused
colours=$(identify -format '%k' "$PROJECT_FOLDER/pic0.png" 2>/dev/null)
check "pic0.png shows the screen with the options view (${colours:-no} colours)" \
  test "${colours:-0}" -gt 8
check "exactly three pictures after three presses (found $(pictures))" test "$(pictures)" = 3

# Enter hides the options view ("Hide this Window"); with no automatic trigger
# the recorder then runs. Shift+Ctrl shows the view again.
require "Enter hides the options view" press_in_window "$OPTIONS_ANY" Return
check "the options view is gone" wait_window_gone "$OPTIONS_ANY"
chord_shift_ctrl
check "Shift+Ctrl shows the options view again, recorder active" wait_window "$OPTIONS_ACTIVE"

exit_with_escape

check "the registry file holds all 27 values" registry_has_all_values
check "OutputType stays PNG" registry_is OutputType 3
check "only Ctrl-Print Screen is on (print screen)" registry_is TakeShotOnPrintScreen 1
check "only Ctrl-Print Screen is on (any key)" registry_is TakeShotOnKey 0
check "only Ctrl-Print Screen is on (mouse click)" registry_is TakeShotOnClick 0
check "the project name is kept" registry_is ProjectName shots
check "the results directory is kept" registry_is ProjectDirectory "$RESULTS_DIR"
e2e_finish
