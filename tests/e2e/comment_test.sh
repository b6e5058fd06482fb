#!/usr/bin/env bash
# The comment window from the options view: it opens framed and without a
# title bar, takes typed text, takes the right-pointing arrow border from its
# popup menu and then the shape of frame plus arrow, which a shot of the
# desktop shows at the window's place. "Avoid Focus on Comment Window Alone"
# keeps a window-target shot on the window captured before; "Allow Recording
# of Comment Window Alone" captures the comment window itself. Save, clear and
# load bring the text back, and the backup is written into the project.
source "$(dirname "$0")/e2e_common.bash"

# PNG pictures of the foreground window, taken with Print Screen.
seed_project notes "OutputType=3" "UseDesktopWindow=0" "UseMainAppWindow=0" \
  "UseForegrounWindow=1" "UseForegrounWindowInside=0"

start_and_open_project

COMMENT='^Comment$'
OLIVE='srgb(128,128,0)'

shot() { import -window root "$1" 2>/dev/null; }
pixel() { convert "$1" -format "%[pixel:p{$2,$3}]" info: 2>/dev/null; }
geometry_of() { xdotool getwindowgeometry --shell "$1"; }
shot "$E2E_ROOT/before.png"
# Gives a window the focus and waits until the window manager reports it
# active, so that keys and Print Screen go to it.
# Both the window manager's active window and the X input focus must have
# arrived: the program may read either.
active_is() {
  [ "$(xdotool getactivewindow 2>/dev/null)" = "$1" ] &&
    [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]
}
bring_to_front() {
  focus_window "$1"
  wait_until "$E2E_WAIT" active_is "$1"
}

# "Open Comment Window" (id 1029) sits at 162, 193, 83 x 14 dialog units.
require "'Open Comment Window' is clicked" click_options_control 162 193 83 14
require "the comment window appears" wait_window "$COMMENT"
comment=$(find_window "$COMMENT")

# The popup menu, walked with the keyboard from a right click in the text:
# Down N times picks the N-th item (separators are skipped), Right opens a
# submenu at its first item.
framory_windows() { xdotool search --onlyvisible --pid "$FRAMORY_PID" --class framory 2>/dev/null | wc -l; }
more_windows_than() { [ "$(framory_windows)" -gt "$1" ]; }
menu() {
  local before
  before=$(framory_windows)
  xdotool mousemove --window "$comment" 60 60 click 3 || return 1
  # The keys go to the menu once its popup window is up.
  wait_until "$E2E_WAIT" more_windows_than "$before" || { echo "  no popup menu"; return 1; }
  xdotool key --delay 60 "$@"
}
# Top-level items in order: Font Effect, Font Size, Font.., Font Color..,
# BackGround Color.., Border Style, Focus on Comment Window, Show or Hide
# Title Bar, Move Comment Window, Set Size to Movie Size, Save Contents As..,
# Load Contents.., Clear Contents, Close Comment Window.
downs() { local n=$1 keys=(); for _ in $(seq 1 "$n"); do keys+=(Down); done; echo "${keys[@]}"; }

# Place the window and type into it.
require "the comment window is moved to 400, 300" \
  timeout 10 xdotool windowmove --sync "$comment" 400 300
xdotool mousemove --window "$comment" 60 60 click 1
require "the comment window takes the keyboard" bring_to_front "$comment"
xdotool key ctrl+a
xdotool type --delay 20 "Hello from the comment window"

eval "$(geometry_of "$comment")"
check "the window is 320 x 200 without a title bar (got ${WIDTH}x${HEIGHT})" \
  test "$WIDTH" = 320 -a "$HEIGHT" = 200
shot "$E2E_ROOT/simple.png"
check "the simple olive frame is on the left edge" \
  test "$(pixel "$E2E_ROOT/simple.png" $((X + 1)) $((Y + 100)))" = "$OLIVE"

# "Border Style" > "Arrow at Right, toward Middel" (6th and 7th of the submenu
# after None and Simple).
require "the arrow border is chosen from the menu" menu $(downs 6) Right $(downs 6) Return
eval "$(geometry_of "$comment")"
arrow_drawn() {
  shot "$E2E_ROOT/arrow.png" && test "$(pixel "$E2E_ROOT/arrow.png" $((X + 315)) $((Y + 97)))" = "$OLIVE"
}
wait_until "$E2E_WAIT" arrow_drawn
check "the frame's right side is drawn at x+308" \
  test "$(pixel "$E2E_ROOT/arrow.png" $((X + 308)) $((Y + 50)))" = "$OLIVE"
check "the arrow is drawn toward the middle of the right side" \
  test "$(pixel "$E2E_ROOT/arrow.png" $((X + 315)) $((Y + 97)))" = "$OLIVE"
beside=$(pixel "$E2E_ROOT/before.png" $((X + 315)) $((Y + 40)))
check "the simple window covered the screen beside where the arrow goes" \
  test "$(pixel "$E2E_ROOT/simple.png" $((X + 315)) $((Y + 40)))" != "$beside"
check "the arrow window's shape shows the screen there again ($beside)" \
  test "$(pixel "$E2E_ROOT/arrow.png" $((X + 315)) $((Y + 40)))" = "$beside"
check "the box around the arrow belongs to the window" \
  test "$(pixel "$E2E_ROOT/arrow.png" $((X + 318)) $((Y + 108)))" != \
  "$(pixel "$E2E_ROOT/before.png" $((X + 318)) $((Y + 108)))"
check "the text area is white inside the frame" \
  test "$(pixel "$E2E_ROOT/arrow.png" $((X + 200)) $((Y + 190)))" = 'srgb(255,255,255)'

# Focus option. The options view is captured first; with the comment window in
# front the next shot stays on the options view ("Avoid", the default); after
# "Allow Recording of Comment Window Alone" the comment window is captured.
require "Ctrl+Shift starts the recorder" toggle_recorder_to Active
picture_size() { identify -format '%wx%h' "$PROJECT_FOLDER/pic$1.png" 2>/dev/null; }
picture_done() { [ -n "$(picture_size "$1")" ]; }
options=$(find_window "$OPTIONS_ANY")
require "the options view is in front" bring_to_front "$options"
xdotool key Print
require "pic0.png of the options view is written" wait_until "$E2E_WAIT" picture_done 0
require "the comment window is in front" bring_to_front "$comment"
xdotool key Print
require "pic1.png is written with the comment window in front" \
  wait_until "$E2E_WAIT" picture_done 1
# On a mismatch, say which windows have the size that was captured.
same_as_pic0() {
  [ "$(picture_size 0)" = "$(picture_size 1)" ] && [ "$(picture_size 1)" != 320x200 ] && return 0
  echo "  active window now: $(xdotool getactivewindow getwindowname 2>/dev/null)"
  xwininfo -root -tree | grep -F " $(picture_size 1)+" | sed 's/^/  /'
  return 1
}
check "pic1 shows the options view again ($(picture_size 0) = $(picture_size 1))" same_as_pic0
require "'Allow Recording of Comment Window Alone' is chosen" menu $(downs 7) Right Return
require "the comment window is in front again" bring_to_front "$comment"
xdotool key Print
require "pic2.png is written" wait_until "$E2E_WAIT" picture_done 2
check "pic2 is the comment window itself ($(picture_size 2))" test "$(picture_size 2)" = 320x200
require "Ctrl+Shift pauses the recorder" toggle_recorder_to Paused

# Save, clear, load.
save_as() {
  menu $(downs 11) Return || return 1
  wait_window '^Save As Rich Text File$' || return 1
  bring_to_front "$(find_window '^Save As Rich Text File$')" || return 1
  xdotool type --delay 20 "$1"
  xdotool key Return
  wait_window_gone '^Save As Rich Text File$'
}
holds_text() { grep -q "Hello from the comment window" "$1" 2>/dev/null; }
require "the contents are saved as note.rtf" save_as note
check "note.rtf in the project folder holds the text" \
  wait_until "$E2E_WAIT" holds_text "$PROJECT_FOLDER/note.rtf"
check "LastBackup.rtf holds the same" holds_text "$PROJECT_FOLDER/LastBackup.rtf"
check "unrtf reads the saved file" sh -c "unrtf --text '$PROJECT_FOLDER/note.rtf' | grep -q 'Hello from the comment window'"

require "'Clear Contents' is chosen" menu $(downs 13) Return
require "the cleared contents are saved as cleared.rtf" save_as cleared
check "cleared.rtf has no text" wait_until "$E2E_WAIT" test -f "$PROJECT_FOLDER/cleared.rtf"
check "cleared.rtf does not hold the old text" sh -c "! grep -q 'Hello from' '$PROJECT_FOLDER/cleared.rtf'"

rm -f "$PROJECT_FOLDER/LastBackup.rtf"
load() {
  menu $(downs 12) Return || return 1
  wait_window '^Load File$' || return 1
  bring_to_front "$(find_window '^Load File$')" || return 1
  xdotool type --delay 20 "$1"
  xdotool key Return
  wait_window_gone '^Load File$'
}
require "note.rtf is loaded" load note.rtf
check "loading wrote LastBackup.rtf with the loaded text" \
  wait_until "$E2E_WAIT" holds_text "$PROJECT_FOLDER/LastBackup.rtf"
require "the loaded contents are saved as again.rtf" save_as again
check "again.rtf holds the text that was loaded" \
  wait_until "$E2E_WAIT" holds_text "$PROJECT_FOLDER/again.rtf"

# "Move Comment Window": the title bar shows for the move, the window follows
# the pointer until a click, and then the title bar goes again, the window
# keeping the top-left corner its frame had.
require "'Move Comment Window' is chosen" menu $(downs 9) Return
has_title_bar() {
  local id
  id=$(find_window "$COMMENT") && [ -n "$id" ] &&
    xprop -id "$id" _NET_FRAME_EXTENTS 2>/dev/null | grep -qv '= 0, 0, 0, 0'
}
require "the title bar shows while moving" wait_until "$E2E_WAIT" has_title_bar
eval "$(geometry_of "$(find_window "$COMMENT")")"
x0=$X y0=$Y
# _NET_FRAME_EXTENTS: left, right, top, bottom.
read -r left _ top _ < <(xprop -id "$(find_window "$COMMENT")" _NET_FRAME_EXTENTS |
  sed 's/.*= //; s/,/ /g')
xdotool mousemove_relative -- 100 50
# The window follows once it has the pointer; small back-and-forth moves
# repeat the motion until it has.
moved_by() {
  local id
  id=$(find_window "$COMMENT") && [ -n "$id" ] || return 1
  eval "$(geometry_of "$id")"
  [ "$X" = $((x0 + 100)) ] && [ "$Y" = $((y0 + 50)) ]
}
follows() { xdotool mousemove_relative -- 1 0 mousemove_relative -- -1 0; moved_by; }
check "the window follows the pointer" wait_until "$E2E_WAIT" follows
xdotool click 1
no_title_bar() { ! has_title_bar; }
check "the title bar goes again after the move" wait_until "$E2E_WAIT" no_title_bar
at_frame_corner() {
  eval "$(geometry_of "$(find_window "$COMMENT")")"
  [ "$X" = $((x0 + 100 - left)) ] && [ "$Y" = $((y0 + 50 - top)) ]
}
check "the window keeps its frame's top-left corner" wait_until "$E2E_WAIT" at_frame_corner
comment=$(find_window "$COMMENT")

# "Close Comment Window".
require "'Close Comment Window' is chosen" menu $(downs 14) Return
check "the comment window is gone" wait_window_gone "$COMMENT"

exit_with_escape
e2e_finish
