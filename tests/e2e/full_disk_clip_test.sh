#!/usr/bin/env bash
# xvfb-args: --size 640x480
# A disk that fills up during an uncompressed AVI clip, with the real program.
#
# The results folder is a small tmpfs (64 MB) of which a filler file takes
# 59 MB; each 640 x 480 frame takes 1.2 MB, so the disk fills after a few
# frames. Removing the filler leaves room for about 48 frames, so the next
# clip is paused long before it could fill the disk again, however slowly a
# loaded machine answers the chord. The clip must then end at once with every frame written and its
# index (ffprobe reads it), the error box must appear with the recorder
# paused, and an earlier file must stay as it was. Once the filler is gone,
# resuming records the next clip, which plays. Without the right to mount, a
# file-size limit stands in for the full disk and only the failed clip is
# checked.
source "$(dirname "$0")/e2e_common.bash"

ERROR_BOX='^Error - Recorder will go in pause mode$'

mount_small_results 64m

seed_project clips "OutputType=11" "TimerValue=100" "UseDesktopWindow=1" "UseMainAppWindow=0"
mkdir -p "$PROJECT_FOLDER"
head -c 100000 /dev/urandom >"$PROJECT_FOLDER/earlier.bin"
earlier_sum=$(md5sum <"$PROJECT_FOLDER/earlier.bin")
start_motion

if [ "$MOUNTED" = 1 ]; then
  dd if=/dev/zero of="$RESULTS_DIR/filler" bs=1M count=59 >/dev/null 2>&1
  start_and_open_project
else
  echo "no tmpfs (not allowed to mount): a 4 MB file-size limit stands in for the full disk"
  start_limited_and_open_project 4096
fi

frames_of() {
  ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of default=nw=1:nk=1 "$1" 2>/dev/null
}
# The frame count the file's header and index give, without decoding.
indexed_frames_of() {
  ffprobe -v error -select_streams v:0 -show_entries stream=nb_frames -of default=nw=1:nk=1 \
    "$1" 2>/dev/null
}
clip_files() { find "$PROJECT_FOLDER" -maxdepth 1 -name 'movie*' | wc -l; }

require "Ctrl+Shift starts the recorder" toggle_recorder_to Active
require "the full disk gives the error box" wait_window "$ERROR_BOX"
check "the recorder is paused behind the box" window_shown "$OPTIONS_PAUSED"
decoded=$(frames_of "$PROJECT_FOLDER/movie0.avi")
indexed=$(indexed_frames_of "$PROJECT_FOLDER/movie0.avi")
echo "  movie0.avi: ${decoded:-no} frames decoded, ${indexed:-no} in its header"
check "the cut clip holds whole frames (${decoded:-none})" test "${decoded:-0}" -ge 1
check "its header counts exactly those frames (${indexed:-none})" \
  test "${indexed:-x}" = "${decoded:-y}"
check "no other clip file was left (found $(clip_files))" test "$(clip_files)" = 1
check "the earlier file is untouched" test "$(md5sum <"$PROJECT_FOLDER/earlier.bin")" = "$earlier_sum"
require "Enter closes the error box" dismiss_box "$ERROR_BOX"

if [ "$MOUNTED" = 1 ]; then
  rm -f "$RESULTS_DIR/filler"
  require "Ctrl+Shift resumes the recorder" toggle_recorder_to Active
  has_frames() { [ "$(stat -c %s "$1" 2>/dev/null || echo 0)" -ge $((2 * 640 * 480 * 4)) ]; }
  check "the next clip, movie1.avi, records" \
    wait_until "$E2E_WAIT" has_frames "$PROJECT_FOLDER/movie1.avi"
  require "Ctrl+Shift pauses the recorder" toggle_recorder_to Paused
  check "no box this time" window_gone "$ERROR_BOX"
fi

exit_with_escape
if [ "$MOUNTED" = 1 ]; then
  next=$(frames_of "$PROJECT_FOLDER/movie1.avi")
  check "movie1.avi plays (${next:-no} frames)" test "${next:-0}" -ge 2
  check "its header counts its frames" \
    test "$(indexed_frames_of "$PROJECT_FOLDER/movie1.avi")" = "${next:-y}"
  check "two clips in all" test "$(clip_files)" = 2
fi
e2e_finish
