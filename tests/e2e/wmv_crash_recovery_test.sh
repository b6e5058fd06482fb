#!/usr/bin/env bash
# xvfb-args: --size 640x480
# kill -9 while a WMV clip (type 16) and a screen encoder clip (type 19)
# record, with the real program. The killed clip is in the journal; FFmpeg
# reads its frames but it has no duration (its header was never finished).
# The next start repairs it before the welcome dialog, in the one box of
# unfinished clips, and the clip then has its duration and every frame that
# was in the file.
source "$(dirname "$0")/e2e_common.bash"

REPAIR_BOX='^Framory - Unfinished Movie Clip$'
JOURNAL_FOLDER="$XDG_STATE_HOME/framory"
journal_records() { find "$JOURNAL_FOLDER" -name '*.journal' 2>/dev/null | wc -l; }
packets() {
  ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets \
    -of default=nw=1:nk=1 "$1" 2>/dev/null | head -n 1
}
packets_at_least() { [ "$(packets "$CLIP")" -ge "$1" ] 2>/dev/null; }
duration_of() {
  ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 "$1" 2>/dev/null
}
last_time_of() {
  ffprobe -v error -select_streams v:0 -show_entries packet=pts_time -of csv=p=0 "$1" \
    2>/dev/null | tail -n 1
}
near() { awk -v a="$1" -v b="$2" -v t="$3" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(d <= t) }'; }

run_case() {
  local type=$1
  echo "--- kill -9 during a clip of type $type"
  seed_project "crash$type" "OutputType=$type" "TimerValue=100" "UseDesktopWindow=1" \
    "UseMainAppWindow=0" "RecordSound=0" "TakeShotOnTimer=1" "TakeShotOnKey=0"
  CLIP="$PROJECT_FOLDER/movie0.wmv"
  start_and_open_project
  require "Ctrl+Shift starts the recorder" toggle_recorder_to Active
  require "20 frames reach the clip" wait_until "$E2E_WAIT" packets_at_least 20
  check "the open clip is recorded in the journal" test "$(journal_records)" = 1
  check "the journal record names the clip" grep -qaF "$CLIP" "$JOURNAL_FOLDER"/*.journal
  kill -KILL "$FRAMORY_PID"
  require "the program ends after kill -9" wait_framory_exit
  local before duration
  before=$(packets "$CLIP")
  duration=$(duration_of "$CLIP")
  echo "  killed: $before frames, duration ${duration:-none}"
  check "the killed clip has no duration yet" \
    test -z "$duration" -o "$duration" = "N/A" -o "$duration" = "0.000000"

  echo "--- the next start repairs it"
  start_framory
  require "one box tells about the unfinished clip" wait_window "$REPAIR_BOX"
  check "the welcome dialog waits for the box" window_gone "$WELCOME"
  require "Enter closes the box" dismiss_box "$REPAIR_BOX"
  require "the welcome dialog follows" wait_window "$WELCOME"
  check "the journal is empty" test "$(journal_records)" = 0
  require "Esc in the welcome dialog is accepted" press_in_window "$WELCOME" Escape
  require "the program ends" wait_framory_exit

  local after last
  after=$(packets "$CLIP")
  duration=$(duration_of "$CLIP")
  last=$(last_time_of "$CLIP")
  echo "  repaired: $after frames, duration ${duration:-none}, last frame at ${last:-none}"
  check "no frame that was in the file is lost ($after of $before)" test "${after:-0}" -ge "$((before - 1))"
  check "every frame decodes" test -z "$(ffmpeg -v error -i "$CLIP" -f null - 2>&1)"
  check "the clip has its duration" \
    near "${duration:-0}" "$(awk -v l="${last:-0}" 'BEGIN { print l + 0.1 }')" 0.1
}

start_motion
run_case 16
run_case 19
e2e_finish
