#!/usr/bin/env bash
# xvfb-args: --size 1022x766
# Output type 19 in the real program: the recorder's first shot starts the
# screen encoder on the desktop's rectangle, pausing and resuming the recorder
# pause and resume it, and exiting finishes one WMV file of the screen.
source "$(dirname "$0")/e2e_common.bash"

seed_project encoded "OutputType=19" "RecordSound=0" \
  "TimerValue=100" "UseDesktopWindow=1" "UseMainAppWindow=0" "TakeShotOnKey=1"
clip="$PROJECT_FOLDER/movie0.wmv"

start_and_open_project
require "Ctrl+Shift starts the recorder" toggle_recorder_to Active
require "the encoder creates movie0.wmv" wait_until "$E2E_WAIT" test -s "$clip"
sleep 1
require "Ctrl+Shift pauses the recorder" toggle_recorder_to Paused
sleep 1
require "Ctrl+Shift resumes the recorder" toggle_recorder_to Active
sleep 1
require "Ctrl+Shift pauses the recorder again" toggle_recorder_to Paused
exit_with_escape

info=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries \
  stream=codec_name,width,height,nb_read_frames -of default=nw=1 "$clip")
check "ffprobe reads movie0.wmv as wmv2" grep -qx "codec_name=wmv2" <<<"$info"
check "movie0.wmv is the 1022x766 desktop" grep -qx "width=1022" <<<"$info"
check "movie0.wmv is 766 rows high" grep -qx "height=766" <<<"$info"
frames=$(sed -n 's/^nb_read_frames=//p' <<<"$info")
echo "  movie0.wmv: ${frames:-no} frames"
check "movie0.wmv holds frames" test "${frames:-0}" -ge 5
# The paused second left no hole: the frames follow each other closely.
gap=$(ffprobe -v error -select_streams v:0 -show_entries frame=pts_time -of csv=p=0 "$clip" |
  awk 'NR > 1 && $1 - last > max { max = $1 - last } { last = $1 } END { printf "%d", max * 1000 }')
check "no gap of a second or more in movie0.wmv (largest ${gap} ms)" test "${gap:-9999}" -lt 1000
colours=$(ffmpeg -v error -sseof -0.5 -i "$clip" -frames:v 1 -f image2pipe -c:v png - 2>/dev/null |
  identify -format '%k' - 2>/dev/null)
check "the last frame shows the screen (${colours:-no} colours)" test "${colours:-0}" -gt 8
check "no second file was started" test ! -e "$PROJECT_FOLDER/movie1.wmv"
e2e_finish
