#!/usr/bin/env bash
# xvfb-args: --no-wm
# With "Windows Event" on and the recorder active, Framory's own new windows
# take no picture, a window of another program does.
#
# Runs without a window manager: a manager wraps every new window, Framory's
# too, in a frame of its own, and the frame's events are rightly taken as
# another program's. Alone on the server, every window event comes from
# Framory or from the xmessage window this test opens.
#
# A freshly created window carries no properties yet, so only its id tells
# that it is Framory's: the program registers the id range of its toolkit's
# connection for that.
source "$(dirname "$0")/e2e_common.bash"

seed_project events "OutputType=3" \
  "UseDesktopWindow=1" "UseMainAppWindow=0"
FORMAT_DIALOG='^Desktop Framory Output Format$'

start_and_open_project

# Nothing else happens on the server meanwhile; a shot caused by Framory's own
# window would come 100 ms after the window's first event. Watching for two
# seconds is ample for it to show; a correct program never takes one, however
# long the watch.
no_new_picture_for_a_while() {
  local before="$1"
  for _ in $(seq 1 40); do
    [ "$(pictures)" = "$before" ] || { echo "  $(($(pictures) - before)) new picture(s)"; return 1; }
    sleep 0.05
  done
  [ "$(pictures)" = "$before" ]
}
more_pictures_than() { [ "$(pictures)" -gt "$1" ]; }

# "Windows Event" (id 1012) sits at 169, 94, 65 x 10 dialog units. Turning an
# automatic trigger on keeps the recorder paused.
require "'Windows Event' is clicked" click_options_control 169 94 65 10
require "Ctrl+Shift starts the recorder" toggle_recorder_to Active

# "Settings.." (id 1037, at 259, 16, 43 x 14) opens the output format dialog,
# a new top-level window of Framory's own.
require "'Settings..' is clicked" click_options_control 259 16 43 14
require "the output format dialog appears" wait_window "$FORMAT_DIALOG"
check "Framory's own new dialog takes no picture" no_new_picture_for_a_while 0
shown=$(pictures)
require "Enter closes the output format dialog" dismiss_box "$FORMAT_DIALOG"
check "closing it takes no picture either" no_new_picture_for_a_while "$shown"

# Another program's window is a window event that counts.
closed=$(pictures)
xmessage -geometry +50+50 "another program" >/dev/null 2>&1 &
E2E_HELPER_PIDS+=($!)
check "another program's new window takes a picture" \
  wait_until "$E2E_WAIT" more_pictures_than "$closed"

exit_with_escape
check "'Windows Event' stayed on" registry_is TakeShotOnWinEvent 1
e2e_finish
