#!/usr/bin/env bash
# xvfb-args: --size 1022x766
# A QuickTime clip end to end: the MOV type is chosen in the output format
# dialog, about two seconds are recorded with Ctrl+Shift, and "New / End Movie
# Clip" ends the clip. movie0.mov must play in ffprobe, decode every frame
# with ffmpeg, and have well-formed atoms. A test pattern plays in a corner so
# that shots see new pictures; a tick that finds the screen unchanged only
# lengthens the sample before it. The number of frame periods the samples
# span is checked against a wide range and printed, never timed.
source "$(dirname "$0")/../e2e/e2e_common.bash"

if [ -z "${MOV_ATOM_CHECK:-}" ] || [ ! -x "$MOV_ATOM_CHECK" ]; then
  echo "MOV_ATOM_CHECK must name the mov_atom_check tool" >&2
  exit 2
fi

FORMAT_DIALOG='^Desktop Framory Output Format$'
seed_project clips "OutputType=11" \
  "TimerValue=100" "UseDesktopWindow=1" "UseMainAppWindow=0" "TakeShotOnKey=1"
start_motion
start_and_open_project

# "Settings.." (id 1037, at 259, 16, 43 x 14) opens the output format dialog.
require "'Settings..' is clicked" click_options_control 259 16 43 14
require "the output format dialog appears" wait_window "$FORMAT_DIALOG"
format_id=$(find_window "$FORMAT_DIALOG")
# The list (7, 22, 296 x 61 of a 310 x 172 template) shows the movie types
# from 10 on: the sixth row is "MOV - Apple QuickTime Movie".
require "the format list is clicked" click_control "$format_id" 310 172 7 22 296 8
require "the MOV row is chosen with the keyboard" \
  xdotool key --window "$format_id" Home Down Down Down Down Down
require "Enter closes the output format dialog" dismiss_box "$FORMAT_DIALOG"

clip="$PROJECT_FOLDER/movie0.mov"
require "Ctrl+Shift starts the recorder" toggle_recorder_to Active
require "recording creates movie0.mov" wait_until "$E2E_WAIT" test -e "$clip"
sleep 2
mdat_grows() { [ "$(stat -c %s "$clip" 2>/dev/null || echo 0)" -gt 100000 ]; }
check "movie0.mov receives frames" wait_until "$E2E_WAIT" mdat_grows
require "Ctrl+Shift pauses the recorder" toggle_recorder_to Paused

# "New / End Movie Clip" (id 1034) sits at 67, 155, 73 x 14 dialog units.
require "'New / End Movie Clip' is clicked" click_options_control 67 155 73 14
require "the clip ends with the 'Starting New Movie Clip' box" wait_window '^Starting New Movie Clip$'
require "Enter closes the box" dismiss_box '^Starting New Movie Clip$'

info=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries \
  stream=codec_name,codec_tag_string,width,height,time_base,nb_read_frames -of default=nw=1 "$clip")
field() { sed -n "s/^$1=//p" <<<"$info"; }
check "ffprobe reads movie0.mov" test -n "$info"
check "movie0.mov holds Photo-JPEG ('jpeg') frames" \
  test "$(field codec_name)/$(field codec_tag_string)" = mjpeg/jpeg
check "movie0.mov is 1024x768 (screen rounded up to multiples of 4)" \
  test "$(field width)x$(field height)" = 1024x768
check "the media time scale is 1000 (TimerValue periods)" test "$(field time_base)" = 1/1000
frames=$(field nb_read_frames)
durations=$(ffprobe -v error -select_streams v:0 -show_entries packet=duration -of csv=p=0 "$clip")
periods=$(awk '{ s += $1 } END { print int(s / 100) }' <<<"$durations")
echo "  movie0.mov: ${frames:-no} frames over $periods periods"
check "movie0.mov spans 10 to 40 frame periods (got $periods)" \
  test "${periods:-0}" -ge 10 -a "${periods:-0}" -le 40
check "every sample lasts whole 100 ms periods ($(sort -u <<<"$durations" | tr '\n' ' '))" \
  test -z "$(awk '$1 <= 0 || $1 % 100 != 0' <<<"$durations")"
decoded=$(ffmpeg -v error -xerror -i "$clip" -f framemd5 - 2>"$E2E_ROOT/decode.log" | grep -vc '^#')
check "ffmpeg decodes every frame without an error ($decoded of ${frames:-?})" \
  test "$decoded" = "${frames:-x}" -a ! -s "$E2E_ROOT/decode.log"
check "the atoms of movie0.mov are well formed" "$MOV_ATOM_CHECK" "$clip"
colours=$(ffmpeg -v error -sseof -1 -i "$clip" -frames:v 1 -f image2pipe -c:v png - 2>/dev/null |
  identify -format '%k' - 2>/dev/null)
check "the last frame shows the screen (${colours:-no} colours)" test "${colours:-0}" -gt 8

exit_with_escape
check "the registry keeps the MOV type" registry_is OutputType 15
check "no second clip was started" test ! -e "$PROJECT_FOLDER/movie1.mov"
e2e_finish
