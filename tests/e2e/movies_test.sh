#!/usr/bin/env bash
# xvfb-args: --size 1022x766
# Movie clips as uncompressed AVI from periodic shots every 100 ms, ended with
# "New / End Movie Clip" and by exiting. The screen is 1022 x 766 so that the
# movie size shows the rounding up to multiples of 4 (1024 x 768).
#
# The number of frames counts periodic ticks while recording ran for about two
# seconds (longer on a loaded machine, where the pause chord takes a while to
# arrive); it must be at least the ten waited for and at most what a 100 ms
# timer can tick in the time from the start chord to the confirmed pause, and
# it is printed, never timed. That no frame is added while paused is checked
# exactly, by size.
source "$(dirname "$0")/e2e_common.bash"

seed_project clips "OutputType=11" \
  "TimerValue=100" "UseDesktopWindow=1" "UseMainAppWindow=0" "TakeShotOnKey=1"
frame_bytes=$((1024 * 768 * 4))

start_motion
start_and_open_project

file_size() { stat -c %s "$1" 2>/dev/null || echo 0; }
# Holds at least this many frames' worth of pixels.
holds_frames() { [ "$(file_size "$1")" -ge $(($2 * frame_bytes)) ]; }

# Records about two seconds into the named clip: starts the recorder, waits
# for the clip to exist, lets it run, pauses again. A loaded machine may tick
# more slowly; then the recording runs until ten frames are in.
record_clip() {
  local clip="$1" started
  started=$(date +%s%N)
  require "Ctrl+Shift starts the recorder" toggle_recorder_to Active
  require "recording creates $(basename "$clip")" wait_until "$E2E_WAIT" test -e "$clip"
  sleep 2
  check "$(basename "$clip") receives frames" wait_until "$E2E_WAIT" holds_frames "$clip" 10
  require "Ctrl+Shift pauses the recorder" toggle_recorder_to Paused
  paused_size=$(file_size "$clip")
  # At most one tick per 100 ms while the recorder can have run, plus the
  # first one.
  most_frames=$((($(date +%s%N) - started) / 100000000 + 1))
}

# Once the title shows the pause, no frame is added: ending the clip adds only
# the index and the last buffered bytes, less than one frame.
check_nothing_after_pause() {
  local grown
  grown=$(($(file_size "$1") - paused_size))
  check "$(basename "$1") gained no frame after the pause (grew by $grown bytes)" \
    test "$grown" -lt "$frame_bytes"
}

probe() {
  ffprobe -v error -count_frames -select_streams v:0 -show_entries \
    stream=codec_name,width,height,avg_frame_rate,nb_read_frames -of default=nw=1 "$1"
}
probe_field() { sed -n "s/^$1=//p" <<<"$2"; }

check_clip() {
  local clip="$1" info frames
  info=$(probe "$clip")
  check "ffprobe reads $(basename "$clip")" test -n "$info"
  check "$(basename "$clip") is 1024x768 (screen rounded up to multiples of 4)" \
    test "$(probe_field width "$info")x$(probe_field height "$info")" = 1024x768
  check "$(basename "$clip") plays at 10 frames per second" \
    test "$(probe_field avg_frame_rate "$info")" = 10/1
  check "$(basename "$clip") holds uncompressed frames" \
    test "$(probe_field codec_name "$info")" = rawvideo
  # The options view is on the screen: the last frame shows more than a blank
  # desktop.
  local colours
  colours=$(ffmpeg -v error -sseof -1 -i "$clip" -frames:v 1 -f image2pipe -c:v png - 2>/dev/null |
    identify -format '%k' - 2>/dev/null)
  check "the last frame of $(basename "$clip") shows the screen (${colours:-no} colours)" \
    test "${colours:-0}" -gt 8
  frames=$(probe_field nb_read_frames "$info")
  echo "  $(basename "$clip"): ${frames:-no} frames"
  check "$(basename "$clip") holds 10 to $most_frames frames (got ${frames:-none})" \
    test "${frames:-0}" -ge 10 -a "${frames:-0}" -le "$most_frames"
}

# The first fill of the options view for a movie type turns on periodic
# capture only; the stored "Any key pressed" must not add frames.
record_clip "$PROJECT_FOLDER/movie0.avi"

# "New / End Movie Clip" (id 1034) sits at 67, 155, 73 x 14 dialog units.
require "'New / End Movie Clip' is clicked" click_options_control 67 155 73 14
require "the clip ends with the 'Starting New Movie Clip' box" wait_window '^Starting New Movie Clip$'
require "Enter closes the box" dismiss_box '^Starting New Movie Clip$'
check_clip "$PROJECT_FOLDER/movie0.avi"
check_nothing_after_pause "$PROJECT_FOLDER/movie0.avi"

# The next recording starts a new clip under the next number; exiting ends it.
record_clip "$PROJECT_FOLDER/movie1.avi"
exit_with_escape
check_clip "$PROJECT_FOLDER/movie1.avi"
check_nothing_after_pause "$PROJECT_FOLDER/movie1.avi"
check "no third clip was started" test ! -e "$PROJECT_FOLDER/movie2.avi"
check "the registry file holds all 27 values" registry_has_all_values
check "periodic capture is on" registry_is TakeShotOnTimer 1
check "'Any key pressed' was turned off by the first showing" registry_is TakeShotOnKey 0
e2e_finish
