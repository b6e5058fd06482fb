#!/usr/bin/env bash
# xvfb-args: --size 1022x766
# WMV clips of the three Windows Media profiles (output types 16, 17, 18) from
# periodic shots every 100 ms, one program run each, ended by exiting. Each
# clip must be an ASF file that ffprobe reads with one Windows Media Video 8
# stream at the movie size (the screen rounded up to multiples of 4), every
# frame stamped at a whole multiple of the 100 ms period, in order. A test
# pattern plays in a corner so that shots see new pictures; a tick that finds
# the screen unchanged (the player late on a loaded machine) is a repeat,
# which leaves its slot without a sample of its own.
#
# The number of slots counts periodic ticks while recording ran for about two
# seconds; it is checked against a wide range and printed, never timed.
source "$(dirname "$0")/e2e_common.bash"

# The packets' presentation times in milliseconds, one a line.
packet_times() {
  ffprobe -v error -select_streams v:0 -show_entries packet=pts -of csv=p=0 "$1" 2>/dev/null
}

# Whether the times start at 0 and go up in whole multiples of 100 ms.
stamped_every_100ms() {
  awk 'BEGIN { last = -1 } { if ($1 % 100 != 0 || $1 <= last || (NR == 1 && $1 != 0)) exit 1; last = $1 }
       END { exit NR == 0 }' <<<"$1"
}

record_wmv_clip() {
  local type="$1" clip info frames times colours
  seed_project "wmv$type" "OutputType=$type" \
    "TimerValue=100" "UseDesktopWindow=1" "UseMainAppWindow=0" "TakeShotOnKey=0"
  clip="$PROJECT_FOLDER/movie0.wmv"
  start_and_open_project
  require "Ctrl+Shift starts the recorder (type $type)" toggle_recorder_to Active
  require "recording creates $clip" wait_until "$E2E_WAIT" test -e "$clip"
  sleep 2
  require "Ctrl+Shift pauses the recorder" toggle_recorder_to Paused
  check "no error box while recording type $type" window_gone '^Error'
  exit_with_escape

  info=$(ffprobe -v error -count_frames -show_entries \
    format=format_name:stream=codec_type,codec_name,width,height,nb_read_frames \
    -of default=nw=1 "$clip" 2>/dev/null)
  check "ffprobe reads the type $type clip as ASF" test "$(sed -n 's/^format_name=//p' <<<"$info")" = asf
  check "the clip holds one stream, of video" \
    test "$(grep -c '^codec_type=' <<<"$info")-$(sed -n 's/^codec_type=//p' <<<"$info")" = 1-video
  check "the video is Windows Media Video 8" test "$(sed -n 's/^codec_name=//p' <<<"$info")" = wmv2
  check "the video is 1024x768 (screen rounded up to multiples of 4)" \
    test "$(sed -n 's/^width=//p' <<<"$info")x$(sed -n 's/^height=//p' <<<"$info")" = 1024x768
  frames=$(sed -n 's/^nb_read_frames=//p' <<<"$info")
  times=$(packet_times "$clip")
  slots=$(($(tail -n 1 <<<"$times") / 100 + 1))
  echo "  type $type: ${frames:-no} frames in $slots slots, $(stat -c %s "$clip") bytes"
  check "the clip spans 10 to 40 frame slots (got $slots)" test "$slots" -ge 10 -a "$slots" -le 40
  check "one packet per decoded frame" test "$(grep -c . <<<"$times")" = "${frames:-x}"
  check "frames are stamped at whole 100 ms slots from 0, in order" stamped_every_100ms "$times"
  # The options view is on the screen: the last frame shows more than a blank
  # desktop.
  colours=$(ffmpeg -v error -sseof -1 -i "$clip" -frames:v 1 -f image2pipe -c:v png - 2>/dev/null |
    identify -format '%k' - 2>/dev/null)
  check "the last frame shows the screen (${colours:-no} colours)" test "${colours:-0}" -gt 8
}

# One player for the whole session, on screen before any program run, so no
# new window comes up while a chord is typed.
start_motion
for type in 16 17 18; do
  record_wmv_clip "$type"
done
e2e_finish
