#!/usr/bin/env bash
# xvfb-args: --size 800x600
# Recording with sound where no sound server runs, with the real program:
# the screen encoder (type 19) and a WMV clip (type 16), both with "Record
# Sound as Well". The encoder's box names the missing sound server (nothing
# is to be downloaded), the start box follows where the encoder's own order
# puts it, and afterwards the recorder is paused: the options view's title
# says so, rather than claiming a recording that writes nothing.
#
# The program writes the text of every error box to stderr as well, one line
# each ("framory: <caption>: <text>"), which is where the test reads it.
source "$(dirname "$0")/e2e_common.bash"

# The only sound server the program may look for is one that is not there.
export PULSE_SERVER="unix:$E2E_ROOT/no-sound-server"
export PULSE_RUNTIME_PATH="$E2E_ROOT/pulse-runtime"

ERROR_BOX='^Error$'

window_closed() { [ -z "$(xdotool search --onlyvisible --name "$ERROR_BOX" | grep -x "$1")" ]; }

# Dismisses every "Error" box that comes up (each with Enter) until none is
# left; BOX_TEXTS then holds the texts of the boxes the program wrote to
# stderr since the mark $1 (a line count of the log).
dismiss_error_boxes() {
  local id boxes=0
  for _ in 1 2 3; do
    wait_until 5 window_shown "$ERROR_BOX" || break
    id=$(find_window "$ERROR_BOX")
    focus_window "$id" >/dev/null 2>&1
    xdotool key Return
    wait_until "$E2E_WAIT" window_closed "$id" || return 1
    boxes=$((boxes + 1))
  done
  BOX_TEXTS=$(tail -n +"$(($1 + 1))" "$E2E_ROOT/framory.log" | grep '^framory: Error: ')
  [ "$boxes" -gt 0 ]
}

run_case() {
  local what="$1"
  local mark
  mark=$(wc -l <"$E2E_ROOT/framory.log")
  require "$what: Ctrl+Shift resumes the recorder" toggle_recorder_to Active
  require "$what: the encoder's error boxes come up and are dismissed" dismiss_error_boxes "$mark"
  printf '  box: %s\n' "$BOX_TEXTS"
  check "$what: the first box names the missing sound server" \
    grep -q '^framory: Error: Unable to use the screen encoder\. No sound server is running' \
    <<<"$BOX_TEXTS"
  check "$what: no box sends the user to a download" test -z "$(grep -i download <<<"$BOX_TEXTS")"
  check "$what: the recorder is left paused (the title says so)" wait_window "$OPTIONS_PAUSED"
}

seed_project nosound "OutputType=19" "RecordSound=1" "TimerValue=100" \
  "UseDesktopWindow=1" "UseMainAppWindow=0"
start_and_open_project
run_case "screen encoder"
start_box_follows() {
  grep -A1 'No sound server' <<<"$BOX_TEXTS" | tail -n 1 |
    grep -qx 'framory: Error: Unable to start using Windows Media Encoder 9\.'
}
check "screen encoder: the start box follows the configuration box" start_box_follows
check "screen encoder: no movie file is left behind" \
  test -z "$(find "$PROJECT_FOLDER" -name 'movie*' -size +0 2>/dev/null)"
check "the encoder's reason is on stderr too" grep -q 'no sound server' "$E2E_ROOT/framory.log"
exit_with_escape

seed_project nosound16 "OutputType=16" "RecordSound=1" "TimerValue=100" \
  "UseDesktopWindow=1" "UseMainAppWindow=0"
start_and_open_project
run_case "WMV clip"
exit_with_escape
e2e_finish
