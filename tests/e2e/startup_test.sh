#!/usr/bin/env bash
# First start with an empty registry: the welcome dialog proposes the pictures
# folder plus "Framory/" (or the home folder when there is no pictures folder),
# "Exit" (Esc) ends the program and the settings are saved all the same.
source "$(dirname "$0")/e2e_common.bash"

pictures="$HOME/Pictures"

# Esc in the welcome dialog is "Exit": the program ends without showing the
# options view and the registry holds the current settings, the proposed
# directory among them.
start_framory
require "the welcome dialog appears with an empty registry" wait_window "$WELCOME"
require "Esc in the welcome dialog is accepted" press_in_window "$WELCOME" Escape
require "the program ends after Esc in the welcome dialog" wait_framory_exit
check "the exit status is 0 (got $FRAMORY_STATUS)" test "$FRAMORY_STATUS" = 0
check "the registry file holds all 27 values after Exit" registry_has_all_values
check "the proposed directory is the pictures folder + Framory/" \
  registry_is ProjectDirectory "$pictures/Framory/"
check "the default project name is saved" registry_is ProjectName Project1
check "the default output type (BMP) is saved" registry_is OutputType 0
check "no project folder was made after Exit" test ! -e "$pictures/Framory/Project1"

# Enter takes what the welcome dialog shows: the proposed directory reaches the
# settings through the dialog's edit box, and the project folder is made.
rm -rf "$XDG_CONFIG_HOME/framory" "$pictures"
start_and_open_project
check "the project folder under the proposed directory exists" \
  test -d "$pictures/Framory/Project1"
exit_with_escape
check "the registry file holds all 27 values" registry_has_all_values
check "the directory shown in the welcome dialog was stored" \
  registry_is ProjectDirectory "$pictures/Framory/"

# Without a usable pictures folder (a file stands in its place) the proposal
# is the home folder.
rm -rf "$XDG_CONFIG_HOME/framory" "$pictures"
echo "not a folder" >"$pictures"
start_framory
require "the welcome dialog appears" wait_window "$WELCOME"
require "Esc in the welcome dialog is accepted" press_in_window "$WELCOME" Escape
require "the program ends" wait_framory_exit
check "the exit status is 0 (got $FRAMORY_STATUS)" test "$FRAMORY_STATUS" = 0
check "the proposed directory is the home folder + /" registry_is ProjectDirectory "$HOME/"

# Typed into the welcome dialog: "Results Directory:" (id 1000, 7, 58, 261 x 14
# dialog units) and "Project Name:" (id 1001, 60, 76, 226 x 14).
type_into_welcome() {
  local id
  id=$(find_window "$WELCOME")
  [ -n "$id" ] || return 1
  focus_window "$id" || return 1
  click_control "$id" 293 163 "$@" || return 1
  xdotool key ctrl+a BackSpace
  xdotool type --delay 5 "$TEXT"
}
WARNING_BOX='^Invalid Project Directory$'

# A directory that cannot be written keeps the dialog open behind a warning;
# the typed values are kept and saved even when the user then exits.
rm -rf "$XDG_CONFIG_HOME/framory"
start_framory
require "the welcome dialog appears" wait_window "$WELCOME"
TEXT=/proc/framory-unwritable require "an unwritable directory is typed" type_into_welcome 7 58 261 14
TEXT=typedname require "a project name is typed" type_into_welcome 60 76 226 14
require "Enter is pressed in the welcome dialog" press_in_window "$WELCOME" Return
check "the 'Invalid Project Directory' warning appears" wait_window "$WARNING_BOX"
require "Enter closes the warning" dismiss_box "$WARNING_BOX"
check "the welcome dialog stays open" window_shown "$WELCOME"
check "no options view is shown" window_gone "$OPTIONS_ANY"
require "Esc in the welcome dialog is accepted" press_in_window "$WELCOME" Escape
require "the program ends" wait_framory_exit
check "the exit status is 0 (got $FRAMORY_STATUS)" test "$FRAMORY_STATUS" = 0
check "the typed directory is kept, with a separator added" \
  registry_is ProjectDirectory /proc/framory-unwritable/
check "the typed project name is kept" registry_is ProjectName typedname

# A new directory typed without a trailing separator is made and used.
rm -rf "$XDG_CONFIG_HOME/framory"
typed="$E2E_ROOT/typed"
start_framory
require "the welcome dialog appears" wait_window "$WELCOME"
TEXT=$typed require "a new directory is typed" type_into_welcome 7 58 261 14
TEXT=mine require "a project name is typed" type_into_welcome 60 76 226 14
require "Enter starts the project" press_in_window "$WELCOME" Return
require "the options view appears" wait_window "$OPTIONS_PAUSED"
require "Enter closes the 'Framory Pausing...' box" dismiss_box "$PAUSING_BOX"
check "the typed directory and its project folder are made" test -d "$typed/mine"
exit_with_escape
check "the typed directory is stored with a separator added" registry_is ProjectDirectory "$typed/"
check "the typed project name is stored" registry_is ProjectName mine
e2e_finish
