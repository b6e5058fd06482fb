#!/usr/bin/env bash
# A clip at TimerValue 10 of the whole 1920 x 1080 screen plays in real time.
# A window of the test shows a millisecond clock on the screen while the
# program records it; the clip is then read back by timestamp:
#  - no picture shows a time later than its place in the clip allows (the
#    clip started before the test saw its file, and a shot goes to the period
#    nearest its time or later), so the clip never runs ahead of the clock;
#  - the shown times never go backwards;
#  - the clip lasts at least as long as the recording it shows.
# How far the clock shown lags behind the clip's time, and how many pictures
# a second the machine managed, are printed, never asserted. With
# REALTIME_STRESS=1 the recording runs beside `stress --cpu 2`.
source "$(dirname "$0")/e2e_common.bash"

CLOCK=${FRAMORY_CLOCK_WINDOW:-}
[ -x "$CLOCK" ] || { echo "FRAMORY_CLOCK_WINDOW must name the clock_window helper"; exit 2; }
BASE=$("$CLOCK" now 0)
clock_now() { "$CLOCK" now "$BASE"; }
"$CLOCK" show "$BASE" &
E2E_HELPER_PIDS+=($!)

PERIOD=10
seed_project realtime "OutputType=12" "TimerValue=$PERIOD" "UseDesktopWindow=1" \
  "UseMainAppWindow=0" "TakeShotOnTimer=1" "TakeShotOnKey=0" "TakeShotOnClick=0"
clip="$PROJECT_FOLDER/movie0.avi"
screen_height=$(screen_size | cut -dx -f2)

start_and_open_project

if [ -n "${REALTIME_STRESS:-}" ]; then
  stress --cpu 2 >/dev/null 2>&1 &
  E2E_HELPER_PIDS+=($!)
fi

resumed=$(clock_now)
require "Ctrl+Shift starts the recorder" toggle_recorder_to Active
require "recording creates movie0.avi" wait_until "$E2E_WAIT" test -e "$clip"
seen=$(clock_now)
sleep 3
paused=$(clock_now)
require "Ctrl+Shift pauses the recorder" toggle_recorder_to Paused
exit_with_escape

"$CLOCK" check "$clip" "$seen" "$PERIOD" "$screen_height" >"$E2E_ROOT/check.txt"
check_status=$?
cat "$E2E_ROOT/check.txt"
check "the clip keeps time with the clock shown in it" test "$check_status" = 0
echo "REPORT: recorder active from the resume chord to the pause chord: $((paused - resumed)) ms" \
  "(the file appeared $((seen - resumed)) ms after the resume chord)"
e2e_finish
