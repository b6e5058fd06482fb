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
e2e_finish
