#!/usr/bin/env bash
# xvfb-args: --size 640x480
# A disk that fills up during an MP4 clip, with the real program.
#
# The results folder is a small tmpfs (4 MB) of which a filler file leaves
# about 160 KB free: an H.264 clip of a 640 x 480 desktop with a test pattern
# playing fills that within seconds. The clip must then end at once with the
# fragments written so far (ffmpeg decodes it without an error), the error
# box must appear with the recorder paused and the full disk's error number,
# and no other clip file may be left. Once the filler is gone, resuming
# records the next clip, which plays. Without the right to mount, a
# file-size limit of 160 KB stands in for the full disk and only the failed
# clip is checked.
source "$(dirname "$0")/e2e_common.bash"

ERROR_BOX='^Error - Recorder will go in pause mode$'

mount_small_results 4m

seed_project clips "OutputType=20" "TimerValue=100" "UseDesktopWindow=1" "UseMainAppWindow=0"
mkdir -p "$PROJECT_FOLDER"
start_motion

if [ "$MOUNTED" = 1 ]; then
  dd if=/dev/zero of="$RESULTS_DIR/filler" bs=1K count=$((4096 - 160)) >/dev/null 2>&1
  start_and_open_project
else
  echo "no tmpfs (not allowed to mount): a 160 KB file-size limit stands in for the full disk"
  start_limited_and_open_project 160
fi

frames_of() {
  ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of default=nw=1:nk=1 "$1" 2>/dev/null
}
clip_files() { find "$PROJECT_FOLDER" -maxdepth 1 -name 'movie*' | wc -l; }

require "Ctrl+Shift starts the recorder" toggle_recorder_to Active
require "the full disk gives the error box" wait_window "$ERROR_BOX"
check "the recorder is paused behind the box" window_shown "$OPTIONS_PAUSED"
decoded=$(frames_of "$PROJECT_FOLDER/movie0.mp4")
echo "  movie0.mp4: ${decoded:-no} pictures decoded, $(stat -c %s "$PROJECT_FOLDER/movie0.mp4") bytes"
check "the cut clip holds whole pictures (${decoded:-none})" test "${decoded:-0}" -ge 1
check "ffmpeg decodes the cut clip without an error" \
  test -z "$(ffmpeg -v error -i "$PROJECT_FOLDER/movie0.mp4" -f null - 2>&1)"
check "no other clip file was left (found $(clip_files))" test "$(clip_files)" = 1
require "Enter closes the error box" dismiss_box "$ERROR_BOX"

if [ "$MOUNTED" = 1 ]; then
  rm -f "$RESULTS_DIR/filler"
  require "Ctrl+Shift resumes the recorder" toggle_recorder_to Active
  has_pictures() { [ "$(frames_of "$1")" -ge 2 ] 2>/dev/null; }
  check "the next clip, movie1.mp4, records" \
    wait_until "$E2E_WAIT" has_pictures "$PROJECT_FOLDER/movie1.mp4"
  require "Ctrl+Shift pauses the recorder" toggle_recorder_to Paused
  check "no box this time" window_gone "$ERROR_BOX"
fi

exit_with_escape
if [ "$MOUNTED" = 1 ]; then
  next=$(frames_of "$PROJECT_FOLDER/movie1.mp4")
  check "movie1.mp4 plays (${next:-no} pictures)" test "${next:-0}" -ge 2
  check "two clips in all" test "$(clip_files)" = 2
fi
e2e_finish
