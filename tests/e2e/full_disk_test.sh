#!/usr/bin/env bash
# A disk that fills up while PNG pictures are taken, with the real program.
#
# The results folder is a small tmpfs (when the test may mount one). One
# picture is taken, the disk is then filled to the last byte with another
# file, and the next Print Screen must give the error box and pause the
# recorder, leave no partial picture and keep the first one byte for byte.
# Once the other file is gone, resuming takes pictures again. Without the
# right to mount, a file-size limit smaller than a picture stands in for the
# full disk (the program ignores SIGXFSZ and reports EFBIG).
source "$(dirname "$0")/e2e_common.bash"

ERROR_BOX='^Error - Recorder will go in pause mode$'

mount_small_results 4m

seed_project shots "OutputType=3" "UseDesktopWindow=1" "UseMainAppWindow=0"
mkdir -p "$PROJECT_FOLDER"

if [ "$MOUNTED" = 1 ]; then
  start_and_open_project
else
  echo "no tmpfs (not allowed to mount): a 16 KB file-size limit stands in for the full disk"
  start_limited_and_open_project 16
fi

valid_png() { identify -regard-warnings "$1" >/dev/null 2>&1; }
partial_pictures() { find "$PROJECT_FOLDER" -maxdepth 1 -name 'pic*' ! -name pic0.png | wc -l; }

require "Ctrl+Shift starts the recorder" toggle_recorder_to Active
if [ "$MOUNTED" = 1 ]; then
  xdotool key Print
  require "the first picture is written" wait_until "$E2E_WAIT" valid_png "$PROJECT_FOLDER/pic0.png"
  first_sum=$(md5sum <"$PROJECT_FOLDER/pic0.png")
  # Fill the disk to the last byte.
  dd if=/dev/zero of="$RESULTS_DIR/filler" bs=64k >/dev/null 2>&1
  check "the disk is full" test "$(df --output=avail "$RESULTS_DIR" | tail -n 1 | tr -d ' ')" = 0
fi

xdotool key Print
require "the failed picture gives the error box" wait_window "$ERROR_BOX"
check "the recorder is paused behind the box" window_shown "$OPTIONS_PAUSED"
check "no partial picture is left (found $(partial_pictures))" test "$(partial_pictures)" = 0
if [ "$MOUNTED" = 1 ]; then
  check "the earlier picture is untouched" test "$(md5sum <"$PROJECT_FOLDER/pic0.png")" = "$first_sum"
fi
require "Enter closes the error box" dismiss_box "$ERROR_BOX"

if [ "$MOUNTED" = 1 ]; then
  rm -f "$RESULTS_DIR/filler"
  require "Ctrl+Shift resumes the recorder" toggle_recorder_to Active
  xdotool key Print
  # pic1 was handed out to the failed picture; numbers are not reused.
  check "after room is made the next picture is written" \
    wait_until "$E2E_WAIT" valid_png "$PROJECT_FOLDER/pic2.png"
  check "no box this time" window_gone "$ERROR_BOX"
  require "Ctrl+Shift pauses the recorder" toggle_recorder_to Paused
fi

exit_with_escape
e2e_finish
