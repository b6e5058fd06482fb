#!/usr/bin/env bash
# The Ctrl-then-Shift chord with and without "Start and pause only on Ctrl
# then Shift alone" (BareChordOnly), typed on the keyboard. Off (the default)
# the chord toggles as Shift goes down, so Ctrl+Shift+T toggles too. Ticked in
# the Tools dialog, Ctrl+Shift+T leaves the recorder alone and the bare chord
# toggles once both keys are up; the choice is kept in the registry.
#
# "Did not toggle" is read from the options view's title once the view has
# been closed and shown again with Shift-then-Ctrl: the keys are handled in
# the order they are typed, so the view shown again tells the state after the
# keys typed before it.
source "$(dirname "$0")/e2e_common.bash"

ctrl_shift_t() { xdotool keydown ctrl keydown shift key t keyup shift keyup ctrl; }

# Closes the options view (in front) and shows it again with Shift-then-Ctrl.
reshow_options() {
  focus_window "$(find_window "$OPTIONS_ANY")" || return 1
  chord_shift_ctrl
  wait_window_gone "$OPTIONS_ANY" || { echo "  the view did not close"; return 1; }
  chord_shift_ctrl
  wait_window "$OPTIONS_ANY"
}

seed_project Chord
start_and_open_project
check "the registry starts without BareChordOnly" test -z "$(registry_value BareChordOnly)"

ctrl_shift_t
check "unticked, Ctrl+Shift+T toggles as before: the recorder is active" \
  wait_window "$OPTIONS_ACTIVE"
chord_ctrl_shift
check "unticked, the bare chord pauses again" wait_window "$OPTIONS_PAUSED"

require "the options view takes the keyboard" focus_window "$(find_window "$OPTIONS_ANY")"
require "'Tools..' opens the Tools dialog" click_options_control 67 193 73 14
require "the Tools dialog appears" wait_window '^Tools$'
tools=$(find_window '^Tools$')
require "the check box 'Start and pause only on Ctrl then Shift alone' is ticked" \
  click_control "$tools" 286 95 7 80 200 10
require "'Close' ends the Tools dialog" click_control "$tools" 286 95 183 60 95 14
require "the Tools dialog is gone" wait_window_gone '^Tools$'

ctrl_shift_t
require "the options view closes and shows again" reshow_options
check "ticked, Ctrl+Shift+T leaves the recorder paused" window_shown "$OPTIONS_PAUSED"

require "the options view takes the keyboard" focus_window "$(find_window "$OPTIONS_ANY")"
chord_ctrl_shift
check "ticked, the bare chord resumes" wait_window "$OPTIONS_ACTIVE"
xdotool keydown ctrl keydown shift key c keyup shift keyup ctrl
require "the options view closes and shows again" reshow_options
check "ticked, Ctrl+Shift+C leaves the recorder active" window_shown "$OPTIONS_ACTIVE"
chord_ctrl_shift
check "ticked, the bare chord pauses" wait_window "$OPTIONS_PAUSED"

exit_with_escape
check "the registry keeps BareChordOnly=1 after the other values" registry_is BareChordOnly 1
check "BareChordOnly is written after the older values and before the newer ones" \
  test "$(grep -oE '^(ProjectName|BareChordOnly|SoundSource)=' "$REGISTRY_FILE" | tr -d '\n')" \
  = "ProjectName=BareChordOnly=SoundSource="
e2e_finish
