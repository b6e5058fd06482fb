#!/usr/bin/env bash
# Marking the capture area: "Area" in the options view, Yes to the question,
# the instructions box, then two right clicks anywhere define the area and
# produce exactly one "Framory" box saying so. A third right click afterwards
# marks nothing.
source "$(dirname "$0")/e2e_common.bash"

seed_project area "OutputType=3"

start_and_open_project

AREA_BOX='^Framory$'

# "Area" (id 1063) sits at 275, 50, 31 x 10 dialog units.
require "'Area' is clicked" click_options_control 275 50 31 10
require "the question 'Record User Specified Desktop Area' appears" \
  wait_window '^Record User Specified Desktop Area$'
require "Enter answers Yes" dismiss_box '^Record User Specified Desktop Area$'
require "the instructions 'How To Set User Specified Desktop Area' appear" \
  wait_window '^How To Set User Specified Desktop Area$'
require "Enter closes the instructions" dismiss_box '^How To Set User Specified Desktop Area$'

# While a system-modal box is up the program ignores the input it watches. The
# chord is read after that box has gone and the marking is armed, so once the
# title changes, the next right clicks count.
require "Ctrl+Shift is seen again once the boxes are gone" toggle_recorder_to Active

# Right clicks on empty parts of the options view (in dialog units): the right
# end of "Other Options" and the left margin. Both lie on the screen, which is
# all the marking asks for.
right_click_at() {
  require "right click at $1, $2 dialog units" click_options_control "$1" "$2" 0 0 3
  eval "$(xdotool getmouselocation --shell)"
}
right_click_at 300 145
x1=$X y1=$Y
right_click_at 3 100
x2=$X y2=$Y

check "one 'Framory' box tells that the area is defined" wait_window "$AREA_BOX"
check "exactly one such box is shown (found $(count_windows "$AREA_BOX"))" \
  test "$(count_windows "$AREA_BOX")" = 1
require "Enter closes the box" dismiss_box "$AREA_BOX"

# A third right click marks nothing: the chord after it is read from the same
# input stream, so once the title changes the click has been handled.
right_click_at 300 145
require "Ctrl+Shift pauses the recorder" toggle_recorder_to Paused
check "no second 'Framory' box after a third right click" window_gone "$AREA_BOX"

exit_with_escape

lo() { if [ "$1" -lt "$2" ]; then echo "$1"; else echo "$2"; fi; }
hi() { if [ "$1" -gt "$2" ]; then echo "$1"; else echo "$2"; fi; }
check "the area is in use" registry_is UseArea 1
check "the area is marked" registry_is HasMarkUserArea 1
check "the area's left edge is the left click point" registry_is UserAreaLeft "$(lo "$x1" "$x2")"
check "the area's right edge is the right click point" registry_is UserAreaRight "$(hi "$x1" "$x2")"
check "the area's top edge is the upper click point" registry_is UserAreaTop "$(lo "$y1" "$y2")"
check "the area's bottom edge is the lower click point" \
  registry_is UserAreaBottom "$(hi "$y1" "$y2")"
check "the other focus settings are off" registry_is UseDesktopWindow 0
e2e_finish
