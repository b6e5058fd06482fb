#!/usr/bin/env bash
# xvfb-args: --size 800x600
# Output type 30 in the real program: the recorder's first shot starts the
# broadcast, ffmpeg plays http://127.0.0.1:8080/ while the recorder runs,
# pausing the recorder holds the stream and resuming lets it go on, and the
# broadcast writes no file. Where the system has IPv6, http://[::1]:8080/
# plays as well. Holds the port8080 lock.
source "$(dirname "$0")/e2e_common.bash"

seed_project live "OutputType=30" "RecordSound=0" \
  "TimerValue=100" "UseDesktopWindow=1" "UseMainAppWindow=0" "TakeShotOnKey=1"
url=http://127.0.0.1:8080/

plays() { timeout 30 ffmpeg -nostdin -v error -i "${1:-$url}" -frames:v 5 -f null - 2>/dev/null; }
nothing_served() { ! curl -s -m 2 -o /dev/null "$url"; }
size_of() { stat -c %s "$1" 2>/dev/null || echo 0; }

start_and_open_project
check "nothing is served before the recorder runs" nothing_served
require "Ctrl+Shift starts the recorder" toggle_recorder_to Active
require "ffmpeg plays the broadcast" wait_until "$E2E_WAIT" plays
if ip -6 addr show dev lo 2>/dev/null | grep -q 'inet6 ::1/'; then
  check "ffmpeg plays the broadcast over IPv6" plays "http://[::1]:8080/"
else
  echo "no IPv6 loopback here: the IPv6 viewer is not tried"
fi

# A viewer that stays connected through the pause.
curl -s -N -o "$E2E_ROOT/viewer.asf" "$url" &
E2E_HELPER_PIDS+=($!)
grows() {
  local before
  before=$(size_of "$E2E_ROOT/viewer.asf")
  sleep "$1"
  [ "$(size_of "$E2E_ROOT/viewer.asf")" -gt "$before" ]
}
check "the viewer receives the stream" wait_until "$E2E_WAIT" grows 0.5
require "Ctrl+Shift pauses the recorder" toggle_recorder_to Paused
check "the stream settles after the pause" wait_until "$E2E_WAIT" eval '! grows 1.5'
check "nothing arrives while paused" eval '! grows 2'
require "Ctrl+Shift resumes the recorder" toggle_recorder_to Active
check "the stream goes on after the resume" wait_until "$E2E_WAIT" grows 0.5
require "Ctrl+Shift pauses the recorder again" toggle_recorder_to Paused
exit_with_escape
check "the port is closed after the exit" nothing_served
check "the broadcast wrote no movie file" test -z "$(ls "$PROJECT_FOLDER" 2>/dev/null | grep -i wmv)"
e2e_finish
