#!/usr/bin/env bash
# Report (not a test) of the program while it records the whole screen at
# TimerValue 10 as AVI type 12: the Ctrl+Shift chord's latency from the XTest
# event to the options view's title change, the Shift+Ctrl chord's until the
# view is hidden, and the program's resident
# memory over the recording. Run inside an X session:
#
#   FRAMORY_BIN=build/framory FRAMORY_CLOCK_WINDOW=build/tests/e2e_clock_window \
#     tests/support/with-xvfb.sh -- bench/realtime_report.sh [minutes] [chords]
#
# A millisecond clock is kept on the screen so that every frame differs.
source "$(dirname "$0")/../tests/e2e/e2e_common.bash"

minutes=${1:-10}
chords=${2:-10}
CLOCK=${FRAMORY_CLOCK_WINDOW:?FRAMORY_CLOCK_WINDOW must name the clock_window helper}
"$CLOCK" show "$("$CLOCK" now 0)" &
E2E_HELPER_PIDS+=($!)

seed_project report "OutputType=12" "TimerValue=10" "UseDesktopWindow=1" \
  "UseMainAppWindow=0" "TakeShotOnTimer=1" "TakeShotOnKey=0" "TakeShotOnClick=0"
start_and_open_project

rss() { awk '/^VmRSS/ {print $2 " kB"}' "/proc/$FRAMORY_PID/status"; }

echo "RSS before recording: $(rss)"
require "Ctrl+Shift starts the recorder" toggle_recorder_to Active
sleep 2

# Each measured chord toggles the recorder; an even number leaves it active.
view=$(find_window "$OPTIONS_ANY")
latencies=()
for _ in $(seq 1 $((chords * 2))); do
  latencies+=("$("$CLOCK" chord "$view")")
  sleep 0.5
done
echo "Ctrl+Shift chord to title change while recording (ms): ${latencies[*]}"

# Shift+Ctrl while recording (with periodic capture on) pauses and hides the
# options view; each measured chord is followed by one that shows the view
# again and by Ctrl+Shift, which resumes.
latencies=()
for _ in $(seq 1 "$chords"); do
  latencies+=("$("$CLOCK" view-chord "Desktop Framory Settings")")
  sleep 0.5
  "$CLOCK" view-chord "Desktop Framory Settings" >/dev/null
  require "Ctrl+Shift resumes the recorder" toggle_recorder_to Active
  sleep 0.5
done
echo "Shift+Ctrl chord to the options view hidden while recording (ms): ${latencies[*]}"

start=$(date +%s)
for minute in $(seq 1 "$minutes"); do
  wait_for=$((start + 60 * minute - $(date +%s)))
  [ "$wait_for" -gt 0 ] && sleep "$wait_for"
  echo "RSS after $minute min of recording: $(rss)"
done
require "Ctrl+Shift pauses the recorder" toggle_recorder_to Paused
ls -l "$PROJECT_FOLDER"
exit_with_escape
e2e_finish
