#!/usr/bin/env bash
# The window manager's close on the options view (openbox's Alt+F4, the same
# request as its × button) hides the view as "Hide this Window" does: the
# program keeps running, the Shift-then-Ctrl chord shows the view again, and
# Esc still stops and exits.
source "$(dirname "$0")/e2e_common.bash"

start_and_open_project
require "the window manager's close (Alt+F4) reaches the options view" \
  press_in_window "$OPTIONS_ANY" alt+F4
check "the options view is hidden" wait_window_gone "$OPTIONS_ANY"
# Had the close ended the program, the view would not come back: wait_window
# gives up as soon as the program is gone.
chord_shift_ctrl
require "the program still runs: Shift then Ctrl shows the options view again" \
  wait_window "$OPTIONS_ANY"
exit_with_escape
e2e_finish
