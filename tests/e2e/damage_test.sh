#!/usr/bin/env bash
# An AVI clip (type 12) at TimerValue 40 of a still, known-colour desktop
# area, recorded by the program for about five seconds, during which the
# desktop's colour changes once. Read back:
#  - the frames in the header (stored pictures and empty chunks, which are
#    repeats) fill the clip's duration, one a period, and decoding at the
#    constant frame rate up to that duration gives as many pictures; most
#    shots were repeats;
#  - the clip is no longer than the time between the resume chord and the
#    paused title, plus the rounding of one shot's place;
#  - every picture is the desktop, evenly: grey before the change, blue
#    after it, never grey again once blue, starting grey and ending blue.
# Then shots on key releases (each shot the next frame) of the same still
# area: with tracking every shot after the first is a repeat; with
# FRAMORY_SCREEN_CHANGES=0 every shot stores a picture.
source "$(dirname "$0")/e2e_common.bash"

PERIOD=40
GREY='#606060'
BLUE='#2040c0'
# A 320 x 240 area in the bottom right corner, away from the dialogs.
LEFT=1560 TOP=800 WIDTH=320 HEIGHT=240

now_ms() { echo $(($(date +%s%N) / 1000000)); }

xsetroot -solid "$GREY"
xdotool mousemove 10 10
seed_project damage "OutputType=12" "TimerValue=$PERIOD" "TakeShotOnTimer=1" "TakeShotOnKey=0" \
  "TakeShotOnClick=0" "UseDesktopWindow=0" "UseMainAppWindow=0" "UseForegrounWindow=0" \
  "UseArea=1" "HasMarkUserArea=1" "UserAreaLeft=$LEFT" "UserAreaTop=$TOP" \
  "UserAreaRight=$((LEFT + WIDTH - 1))" "UserAreaBottom=$((TOP + HEIGHT - 1))" \
  "PutCursorInBitmap=0"
clip="$PROJECT_FOLDER/movie0.avi"
start_and_open_project

before_resume=$(now_ms)
require "Ctrl+Shift starts the recorder" toggle_recorder_to Active
require "recording creates movie0.avi" wait_until "$E2E_WAIT" test -e "$clip"
sleep 2.5
xsetroot -solid "$BLUE"
sleep 2.5
require "Ctrl+Shift pauses the recorder" toggle_recorder_to Paused
paused_seen=$(now_ms)
exit_with_escape

# Frames in the header (stored pictures and empty repeats alike) and the
# clip's duration; ffprobe lists only the stored pictures as packets.
chunks=$(ffprobe -v error -select_streams v:0 -show_entries stream=nb_frames -of csv=p=0 \
  "$clip" 2>/dev/null)
duration=$(ffprobe -v error -select_streams v:0 -show_entries stream=duration -of csv=p=0 \
  "$clip" 2>/dev/null)
duration_ms=$(awk '{ printf "%d", $1 * 1000 + 0.5 }' <<<"${duration:-0}")
stored=$(ffprobe -v error -select_streams v:0 -show_entries packet=size -of csv=p=0 "$clip" \
  2>/dev/null | awk '$1 > 0' | wc -l)
slots=$(((${duration_ms:-0} + PERIOD / 2) / PERIOD))
echo "  ${chunks:-no} chunks, ${stored} pictures stored, ${duration_ms:-?} ms;" \
  "recording at most $((paused_seen - before_resume)) ms"
check "the header's frames fill the clip's duration, one a period ($chunks for $slots)" \
  test "${chunks:-0}" -eq "$slots" -a "$slots" -gt 1
check "most shots of the still area were repeats ($stored stored of $chunks)" \
  test "$stored" -ge 2 -a "$((stored * 4))" -lt "${chunks:-0}"
check "the clip is no longer than the recording (${duration_ms:-?} ms)" \
  test "${duration_ms:-0}" -le "$((paused_seen - before_resume + PERIOD * 3 / 2))"

# Each picture at the constant frame rate, up to the clip's duration, as the
# mean colours of a 4 x 3 grid of blocks, one picture a line: "grey", "blue"
# or "other".
colours=$(ffmpeg -v error -i "$clip" -t "${duration:-0}" -fps_mode cfr -r $((1000 / PERIOD)) \
  -vf "scale=4:3:flags=area,format=rgb24" -f rawvideo - 2>/dev/null | od -An -v -tu1 -w36 |
  awk '{ kind = "";
         for (i = 1; i <= 36; i += 3) {
           r = $i; g = $(i + 1); b = $(i + 2);
           k = "other";
           if (r >= 76 && r <= 116 && g >= 76 && g <= 116 && b >= 76 && b <= 116) k = "grey";
           if (r <= 60 && g >= 40 && g <= 100 && b >= 160 && b <= 230) k = "blue";
           if (kind == "") kind = k; else if (kind != k) kind = "other";
         }
         print kind }')
echo "  pictures: $(uniq -c <<<"$colours" | awk '{ printf "%s %s, ", $1, $2 }')"
check "decoding at the frame rate gives one picture a period ($(grep -c . <<<"$colours") of $slots)" \
  test "$(grep -c . <<<"$colours")" -eq "$slots"
check "every picture is the desktop, evenly grey or blue" test -z "$(grep -v -e grey -e blue <<<"$colours")"
check "the clip starts grey and ends blue" \
  test "$(head -n 1 <<<"$colours")-$(tail -n 1 <<<"$colours")" = grey-blue
check "no picture is grey once one was blue" \
  test -z "$(sed -n '/blue/,$p' <<<"$colours" | grep grey)"

# Stored pictures and frames of an AVI clip.
stored_pictures() {
  ffprobe -v error -select_streams v:0 -show_entries packet=size -of csv=p=0 "$1" 2>/dev/null |
    awk '$1 > 0' | wc -l
}
header_frames() {
  ffprobe -v error -select_streams v:0 -show_entries stream=nb_frames -of csv=p=0 "$1" 2>/dev/null
}

# Records shots on ten Shift releases into project $1; the clip's path in KEY_CLIP.
record_key_shots() {
  seed_project "$1" "OutputType=12" "TimerValue=$PERIOD" "TakeShotOnTimer=0" "TakeShotOnKey=1" \
    "TakeShotOnClick=0" "UseDesktopWindow=0" "UseMainAppWindow=0" "UseForegrounWindow=0" \
    "UseArea=1" "HasMarkUserArea=1" "UserAreaLeft=$LEFT" "UserAreaTop=$TOP" \
    "UserAreaRight=$((LEFT + WIDTH - 1))" "UserAreaBottom=$((TOP + HEIGHT - 1))" \
    "PutCursorInBitmap=0"
  KEY_CLIP="$PROJECT_FOLDER/movie0.avi"
  start_and_open_project
  require "Ctrl+Shift starts the recorder ($1)" toggle_recorder_to Active
  for _ in $(seq 1 10); do
    xdotool key shift
    sleep 0.1
  done
  require "key shots create the clip ($1)" wait_until "$E2E_WAIT" test -e "$KEY_CLIP"
  require "Ctrl+Shift pauses the recorder ($1)" toggle_recorder_to Paused
  exit_with_escape
}

record_key_shots tracked
frames=$(header_frames "$KEY_CLIP")
stored=$(stored_pictures "$KEY_CLIP")
echo "  tracked: $stored pictures stored of ${frames:-no} frames"
# The clip's last frame, a repeat, is stored as a picture when it closes.
check "with tracking, key shots of the still area after the first are repeats" \
  test "$stored" -le 2 -a "${frames:-0}" -ge 10

export FRAMORY_SCREEN_CHANGES=0
record_key_shots untracked
unset FRAMORY_SCREEN_CHANGES
frames=$(header_frames "$KEY_CLIP")
stored=$(stored_pictures "$KEY_CLIP")
echo "  FRAMORY_SCREEN_CHANGES=0: $stored pictures stored of ${frames:-no} frames"
check "with FRAMORY_SCREEN_CHANGES=0 every key shot stores a picture" \
  test "$stored" -eq "${frames:-x}" -a "$stored" -ge 10
e2e_finish
