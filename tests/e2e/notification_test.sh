#!/usr/bin/env bash
# The desktop notification for a saved clip, received by a real notification
# server: dunst on a private session bus (dbus-run-session) inside the test's
# own X session. Ending an AVI clip with "New / End Movie Clip" sends exactly
# one notification, which names the saved file and its folder; its default
# action opens that folder with the desktop's opener (a stand-in for
# xdg-open that notes what it was asked to open).
if [ -z "${FRAMORY_TEST_PRIVATE_BUS:-}" ]; then
  export FRAMORY_TEST_PRIVATE_BUS=1
  exec dbus-run-session -- "$0" "$@"
fi
source "$(dirname "$0")/e2e_common.bash"

use_noting_opener

# dunst with its built-in settings, notices shown until closed.
printf '[global]\n    idle_threshold = 0\n[urgency_normal]\n    timeout = 0\n' \
  >"$E2E_ROOT/dunstrc"
dunst -config "$E2E_ROOT/dunstrc" >"$E2E_ROOT/dunst.log" 2>&1 &
E2E_HELPER_PIDS+=($!)
require "dunst serves notifications on the private session bus" \
  wait_until "$E2E_WAIT" dunstctl is-paused
shown() { dunstctl count displayed 2>/dev/null || echo 0; }
check "no notification is shown before the clip" test "$(shown)" = 0

seed_project Notified "OutputType=11" "TimerValue=100" "UseDesktopWindow=1" "UseMainAppWindow=0"
start_and_open_project
clip="$PROJECT_FOLDER/movie0.avi"
require "Ctrl+Shift starts the recorder" toggle_recorder_to Active
require "recording creates movie0.avi" wait_until "$E2E_WAIT" test -s "$clip"
require "Ctrl+Shift pauses the recorder" toggle_recorder_to Paused
check "no notification while the clip is open" test "$(shown)" = 0
# "New / End Movie Clip" sits at 67, 155, 73 x 14 dialog units.
require "'New / End Movie Clip' is clicked" click_options_control 67 155 73 14
require "the clip ends with the 'Starting New Movie Clip' box" wait_window '^Starting New Movie Clip$'
require "Enter closes the box" dismiss_box '^Starting New Movie Clip$'

one_shown() { [ "$(shown)" -ge 1 ]; }
require "dunst shows a notification once the clip ends" wait_until "$E2E_WAIT" one_shown
check "exactly one notification (got $(shown))" test "$(shown)" = 1

# The default action opens the folder; closing moves the notice into
# dunst's history, where its texts can be read.
dunstctl action 0
opened_folder() { grep -qx "file://$PROJECT_FOLDER" "$E2E_ROOT/opened" 2>/dev/null; }
check "the notification's action opens the project folder" \
  wait_until "$E2E_WAIT" opened_folder
dunstctl close-all
in_history() { dunstctl history 2>/dev/null | grep -q 'movie0.avi'; }
require "the notification reaches dunst's history" wait_until "$E2E_WAIT" in_history
history=$(dunstctl history)
check "its summary names the saved file" grep -q '"Framory saved movie0.avi"' <<<"$history"
check "its body names the folder" grep -qF "movie0.avi is in $PROJECT_FOLDER" <<<"$history"
check "it comes from Framory" grep -q '"Framory"' <<<"$history"

exit_with_escape
check "exiting with no open clip sends no further notification" \
  test "$(dunstctl history | grep -c "\"data\" : \"Framory saved")" = 1
e2e_finish
