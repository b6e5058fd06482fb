#!/usr/bin/env bash
# The tray icon, used with the mouse as a person would, in a session with a
# freedesktop tray host: it shows the paused image from start-up on; while the
# welcome dialog is open the left button does nothing and the right button
# pauses and resumes; once the project is open the left button shows and hides
# the options view; Esc, or "Exit" in the welcome dialog, ends the program and
# takes the icon out of the tray.
#
# The recorder's state is read from the icon's own pixels (the paused image
# has a yellow box with the letter P) and, while the options view is open,
# from its title. Presses on the icon are handled in the order they are made,
# so when a later click shows its effect, the clicks before it have been
# handled too: that is how "did nothing" is checked without waiting blindly.
source "$(dirname "$0")/e2e_common.bash"

# Keep Qt on the session's XEmbed tray host rather than a status-notifier
# service on whatever session bus the caller has.
unset DBUS_SESSION_BUS_ADDRESS

# Options views of framory, shown or not yet mapped by the window manager.
options_views() {
  xdotool search --all --pid "$FRAMORY_PID" --name "$OPTIONS_ANY" 2>/dev/null | wc -l
}

require "the tray host starts" start_tray_host

start_framory
require "the welcome dialog appears" wait_window "$WELCOME"
require "the tray icon appears in the tray host" wait_until "$E2E_WAIT" tray_icon_shown
check "with the welcome dialog open the icon shows the paused image (129)" \
  wait_until "$E2E_WAIT" tray_icon_paused
icon=$(tray_icon_window)
check "the icon sits inside the tray host, docked at the top right" \
  test "$(xwininfo -id "$icon" | awk '/Absolute upper-left Y:/ {print $4}')" -lt 40

# Left click and left double click while the welcome dialog is open: nothing.
# The right click after them shows that they have been handled.
click_tray_icon 1
click_tray_icon 1 2
click_tray_icon 3
check "a right click during the welcome dialog resumes: the icon shows the active image (107)" \
  wait_until "$E2E_WAIT" tray_icon_active
check "left clicks during the welcome dialog open no options view" test "$(options_views)" = 0
check "the welcome dialog is still open" window_shown "$WELCOME"

click_tray_icon 3
check "a second right click pauses again" wait_until "$E2E_WAIT" tray_icon_paused

# A right double click is a press and a double click: two toggles. The single
# click after it then resumes.
click_tray_icon 3 2
click_tray_icon 3
check "right double click toggles twice, the single click after it resumes" \
  wait_until "$E2E_WAIT" tray_icon_active
click_tray_icon 3
require "a right click pauses before the project starts" wait_until "$E2E_WAIT" tray_icon_paused

require "Enter on the welcome dialog starts the project" press_in_window "$WELCOME" Return
require "the options view appears, paused" wait_window "$OPTIONS_PAUSED"
require "the 'Framory Pausing...' box appears" wait_window "$PAUSING_BOX"
require "Enter closes the 'Framory Pausing...' box" dismiss_box "$PAUSING_BOX"

click_tray_icon 3
check "a right click resumes: the options view's title says so" wait_window "$OPTIONS_ACTIVE"
check "and the icon shows the active image" wait_until "$E2E_WAIT" tray_icon_active
click_tray_icon 3
check "another right click pauses: the title says so" wait_window "$OPTIONS_PAUSED"
check "and the icon shows the paused image" wait_until "$E2E_WAIT" tray_icon_paused

# The view in front: a left click closes it; the next one opens it again.
require "the options view takes the keyboard" focus_window "$(find_window "$OPTIONS_ANY")"
click_tray_icon 1
check "a left click on the icon closes the options view in front" \
  wait_window_gone "$OPTIONS_ANY"
click_tray_icon 1
check "the next left click shows it again, the recorder still paused" \
  wait_window "$OPTIONS_PAUSED"
check "closing and showing the view left the recorder paused" tray_icon_paused

exit_with_escape
check "the icon is gone from the tray host after Esc" wait_until "$E2E_WAIT" tray_icon_gone
check "its window no longer exists" bash -c "! xwininfo -id $icon >/dev/null 2>&1"

# "Exit" in the welcome dialog (Esc) takes the icon out of the tray as well.
start_framory
require "the welcome dialog appears again" wait_window "$WELCOME"
require "the tray icon appears again" wait_until "$E2E_WAIT" tray_icon_shown
check "paused again at start-up" wait_until "$E2E_WAIT" tray_icon_paused
require "Esc in the welcome dialog is accepted" press_in_window "$WELCOME" Escape
require "the program ends after Exit in the welcome dialog" wait_framory_exit
check "the exit status is 0 (got $FRAMORY_STATUS)" test "$FRAMORY_STATUS" = 0
check "the icon is gone from the tray host after Exit" wait_until "$E2E_WAIT" tray_icon_gone
check "the tray host is still running" tray_host_shown
e2e_finish
