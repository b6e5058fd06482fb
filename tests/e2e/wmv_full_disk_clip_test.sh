#!/usr/bin/env bash
# xvfb-args: --size 640x480
# A disk that fills up during a WMV clip (type 18, 768 Kbps) and during a
# screen encoder clip (type 19), with the real program.
#
# The results folder is a small tmpfs (4 MB) of which a filler file takes all
# but about 300 KB, which a WMV clip of the moving desktop fills within
# seconds. The clip must then end at once, finished: FFmpeg reads it with its
# duration (the last frame's time and one period), and no journal record is
# left for a repair. The error box must give the system's reason, 1C (a full
# disk), and the recorder must be paused. Once the filler is gone, resuming
# records the next clip, which plays. Without the right to mount, the test
# says so and checks nothing.
source "$(dirname "$0")/e2e_common.bash"

ERROR_BOX='^Error - Recorder will go in pause mode$'
JOURNAL_FOLDER="$XDG_STATE_HOME/framory"

mount_small_results 4m
if [ "$MOUNTED" != 1 ]; then
  echo "no tmpfs (not allowed to mount): nothing to check"
  e2e_finish
fi

# The duration ffprobe reads from the file's header, the time of its last
# video packet, and how many frames decode, as "duration last frames".
clip_facts() {
  local duration last frames
  duration=$(ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 "$1" 2>/dev/null)
  last=$(ffprobe -v error -select_streams v:0 -show_entries packet=pts_time -of csv=p=0 "$1" \
    2>/dev/null | tail -n 1)
  frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of default=nw=1:nk=1 "$1" 2>/dev/null)
  echo "${duration:-none} ${last:-none} ${frames:-0}"
}
# True when $1 (seconds) is within $3 of $2.
near() { awk -v a="$1" -v b="$2" -v t="$3" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(d <= t) }'; }
clip_files() { find "$PROJECT_FOLDER" -maxdepth 1 -name 'movie*' | wc -l; }

run_case() {
  local type=$1
  echo "--- type $type"
  umount -l "$RESULTS_DIR" 2>/dev/null
  mount -t tmpfs -o size=4m tmpfs "$RESULTS_DIR"
  seed_project "clips$type" "OutputType=$type" "TimerValue=100" "UseDesktopWindow=1" \
    "UseMainAppWindow=0" "RecordSound=0" "TakeShotOnTimer=1"
  mkdir -p "$PROJECT_FOLDER"
  local free
  free=$(df --output=avail -B1 "$RESULTS_DIR" | tail -n 1)
  dd if=/dev/zero of="$RESULTS_DIR/filler" bs=4096 count=$(((free - 300 * 1024) / 4096)) \
    >/dev/null 2>&1
  local mark
  start_and_open_project
  mark=$(wc -l <"$E2E_ROOT/framory.log")

  require "Ctrl+Shift starts the recorder" toggle_recorder_to Active
  require "the full disk gives the error box" wait_window "$ERROR_BOX"
  check "the recorder is paused behind the box" window_shown "$OPTIONS_PAUSED"
  local text
  text=$(tail -n +"$((mark + 1))" "$E2E_ROOT/framory.log" | grep "^framory: Error - Recorder")
  echo "  box: $text"
  check "the box gives the full disk's number, 1C" grep -q 'GetLastError returned 1C$' <<<"$text"
  check "no journal record is left: the clip was finished" \
    test "$(find "$JOURNAL_FOLDER" -name '*.journal' 2>/dev/null | wc -l)" = 0
  local duration last frames
  read -r duration last frames <<<"$(clip_facts "$PROJECT_FOLDER/movie0.wmv")"
  echo "  movie0.wmv: duration $duration, last frame at $last, $frames frames"
  check "the cut clip plays ($frames frames)" test "$frames" -ge 2
  check "its header has its duration ($duration for a last frame at $last)" \
    near "$duration" "$(awk -v l="$last" 'BEGIN { print l + 0.1 }')" 0.1
  require "Enter closes the error box" dismiss_box "$ERROR_BOX"

  rm -f "$RESULTS_DIR/filler"
  require "Ctrl+Shift resumes the recorder" toggle_recorder_to Active
  has_frames() {
    local packets
    packets=$(ffprobe -v error -count_packets -select_streams v:0 \
      -show_entries stream=nb_read_packets -of default=nw=1:nk=1 "$1" 2>/dev/null)
    [ "${packets:-0}" -ge 10 ] 2>/dev/null
  }
  check "the next clip, movie1.wmv, records" \
    wait_until "$E2E_WAIT" has_frames "$PROJECT_FOLDER/movie1.wmv"
  require "Ctrl+Shift pauses the recorder" toggle_recorder_to Paused
  check "no box this time" window_gone "$ERROR_BOX"
  exit_with_escape
  read -r duration last frames <<<"$(clip_facts "$PROJECT_FOLDER/movie1.wmv")"
  echo "  movie1.wmv: duration $duration, last frame at $last, $frames frames"
  check "movie1.wmv plays ($frames frames)" test "$frames" -ge 10
  check "and has its duration ($duration for a last frame at $last)" \
    near "$duration" "$(awk -v l="$last" 'BEGIN { print l + 0.1 }')" 0.1
  check "two clips in all" test "$(clip_files)" = 2
}

start_motion
run_case 18
run_case 19
e2e_finish
