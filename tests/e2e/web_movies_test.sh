#!/usr/bin/env bash
# xvfb-args: --size 1022x766
# MP4 and WebM clips (output types 20 and 21) recorded by the real program
# from periodic shots every 100 ms, paused once in the middle and ended by
# exiting. Each clip must be one file that ffprobe reads with one video
# stream (H.264 High or VP9, 4:2:0) at the movie size, every picture stamped
# at a whole multiple of the 100 ms period, in order, with no gap where the
# recorder stood paused; ffmpeg decodes all of it without an error, and its
# duration is where its last slot ends. A test pattern plays in a corner so
# that shots see new pictures.
#
# The number of slots counts periodic ticks while recording ran for about
# three seconds; it is checked against a wide range and printed, never timed.
source "$(dirname "$0")/e2e_common.bash"

packet_times() {
  ffprobe -v error -select_streams v:0 -show_entries packet=pts_time -of csv=p=0 "$1" 2>/dev/null |
    awk '{ printf "%d\n", $1 * 1000 + 0.5 }'
}

# Whether the times start at 0 and go up in whole multiples of 100 ms, with
# no step longer than `$2` ms.
stamped_every_100ms() {
  awk -v most="$2" 'BEGIN { last = -1 }
       { if ($1 % 100 != 0 || $1 <= last || (NR == 1 && $1 != 0) || (NR > 1 && $1 - last > most)) exit 1; last = $1 }
       END { exit NR == 0 }' <<<"$1"
}

record_web_clip() {
  local type="$1" extension="$2" codec="$3" format="$4" clip info frames times slots duration
  seed_project "web$type" "OutputType=$type" \
    "TimerValue=100" "UseDesktopWindow=1" "UseMainAppWindow=0" "TakeShotOnKey=0"
  clip="$PROJECT_FOLDER/movie0.$extension"
  start_and_open_project
  require "Ctrl+Shift starts the recorder (type $type)" toggle_recorder_to Active
  require "recording creates $clip" wait_until "$E2E_WAIT" test -e "$clip"
  sleep 2
  require "Ctrl+Shift pauses the recorder" toggle_recorder_to Paused
  sleep 2
  require "Ctrl+Shift resumes the recorder" toggle_recorder_to Active
  sleep 1
  require "Ctrl+Shift pauses the recorder again" toggle_recorder_to Paused
  check "no error box while recording type $type" window_gone '^Error'
  exit_with_escape

  info=$(ffprobe -v error -count_frames -show_entries \
    format=format_name,duration:stream=codec_type,codec_name,profile,pix_fmt,width,height,nb_read_frames \
    -of default=nw=1 "$clip" 2>/dev/null)
  check "ffprobe reads the type $type clip as $format" \
    test "$(sed -n 's/^format_name=//p' <<<"$info")" = "$format"
  check "the clip holds one stream, of video" \
    test "$(grep -c '^codec_type=' <<<"$info")-$(sed -n 's/^codec_type=//p' <<<"$info")" = 1-video
  check "the video is $codec" test "$(sed -n 's/^codec_name=//p' <<<"$info")" = "$codec"
  check "its pictures are 4:2:0" test "$(sed -n 's/^pix_fmt=//p' <<<"$info")" = yuv420p
  check "the video is 1024x768 (screen rounded up to multiples of 4)" \
    test "$(sed -n 's/^width=//p' <<<"$info")x$(sed -n 's/^height=//p' <<<"$info")" = 1024x768
  frames=$(sed -n 's/^nb_read_frames=//p' <<<"$info")
  times=$(packet_times "$clip")
  slots=$(($(tail -n 1 <<<"$times") / 100 + 1))
  duration=$(sed -n 's/^duration=//p' <<<"$info")
  echo "  type $type: ${frames:-no} pictures in $slots slots, ${duration:-no} s, $(stat -c %s "$clip") bytes"
  check "the clip spans 15 to 80 frame slots (got $slots)" test "$slots" -ge 15 -a "$slots" -le 80
  check "one packet per decoded picture" test "$(grep -c . <<<"$times")" = "${frames:-x}"
  # A repeat leaves its slot without a picture, but a key frame comes at
  # least every 2 s; the pause leaves no gap at all.
  check "pictures are stamped at whole 100 ms slots from 0, none more than 2 s apart" \
    stamped_every_100ms "$times" 2000
  check "the duration ends with the last slot (${duration:-none} s for $slots slots)" \
    awk -v d="${duration:-0}" -v s="$slots" 'BEGIN { exit !(d >= (s - 1) / 10 && d <= (s + 1) / 10) }'
  check "ffmpeg decodes the whole clip without an error" \
    test -z "$(ffmpeg -v error -i "$clip" -f null - 2>&1)"
  check "a seek into the clip decodes a picture" \
    test -n "$(ffmpeg -v error -ss "$(awk -v s="$slots" 'BEGIN { print s / 20 }')" -i "$clip" \
      -frames:v 1 -f image2pipe -c:v png - 2>/dev/null | head -c 8 | od -An -c)"
  check "no other clip file" test "$(find "$PROJECT_FOLDER" -maxdepth 1 -name 'movie*' | wc -l)" = 1
}

start_motion
record_web_clip 20 mp4 h264 "mov,mp4,m4a,3gp,3g2,mj2"
record_web_clip 21 webm vp9 "matroska,webm"
e2e_finish
