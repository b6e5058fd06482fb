#!/usr/bin/env bash
# xvfb-args: --size 640x480
# kill -9 while a clip records runs no code at all: the clip stays as it was
# on disk (still readable by FFmpeg, without index or frame counts) and the
# store keeps the previous run's values. The next start repairs the clip and
# says so in one box before the welcome dialog. A clip of type 10 is killed,
# then, in the run that repairs it, a clip of type 11.
source "$(dirname "$0")/e2e_common.bash"
source "$(dirname "$0")/shutdown_common.bash"

# Kills the running program while it records and checks what is left.
kill_recording() {
  check "the open clip is recorded in the journal" test "$(journal_records)" = 1
  check "the journal record names the clip" grep -qxF "$CLIP" "$JOURNAL_FOLDER"/*.journal
  store_before=$(cat "$REGISTRY_FILE")
  kill -KILL "$FRAMORY_PID"
  require "the program ends after kill -9" wait_framory_exit
  check "the store keeps the previous run's values" test "$(cat "$REGISTRY_FILE")" = "$store_before"
  check "the run's periodic capture was not saved" registry_is TakeShotOnTimer 0
  local on_disk
  on_disk=$(clip_packets "$CLIP")
  check "FFmpeg reads the unrepaired clip (${on_disk:-no} frames)" test "${on_disk:-0}" -ge "$FRAMES_BEFORE"
  check "the record stays in the journal" test "$(journal_records)" = 1
  # What the repair must keep: all of it but a last frame the kill cut off.
  FRAMES_BEFORE=$((on_disk - 1))
}

echo "--- kill -9 during a clip of type 10"
start_recording 10 kill_10
kill_recording
first_clip=$CLIP first_frames=$FRAMES_BEFORE

echo "--- the next start repairs it; kill -9 during a clip of type 11"
start_recording 11 kill_11 expect-repair-box
FRAMES_BEFORE=$first_frames check_finished_clip "$first_clip"
cp "$first_clip" "$E2E_ROOT/first.avi"
kill_recording

echo "--- the next start repairs that one"
start_framory
expect_repair_box
require "the welcome dialog follows" wait_window "$WELCOME"
check "the journal is empty" test "$(journal_records)" = 0
check_finished_clip "$CLIP"
check "the earlier clip is untouched" cmp -s "$first_clip" "$E2E_ROOT/first.avi"
require "Esc in the welcome dialog is accepted" press_in_window "$WELCOME" Escape
require "the program ends" wait_framory_exit
check "the exit status is 0 (got $FRAMORY_STATUS)" test "$FRAMORY_STATUS" = 0
e2e_finish
