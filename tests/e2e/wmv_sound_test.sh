#!/usr/bin/env bash
# xvfb-args: --size 800x600
# A WMV clip (type 16) with "Record Sound as Well", with a PulseAudio server
# of the test's own (null sink, 440 Hz test tone as the default source): the
# WMV writer writes the pictures while the encoder records the sound into a
# file of its own; ending the clip merges them into one file with one video
# and one audio stream of about equal length, and deletes the two.
source "$(dirname "$0")/e2e_common.bash"

pulse_dir="$E2E_ROOT/pulse"
mkdir -p "$pulse_dir"
cat >"$pulse_dir/test.pa" <<PA
load-module module-native-protocol-unix socket=$pulse_dir/native auth-anonymous=1
load-module module-null-sink sink_name=testsink
load-module module-sine-source frequency=440 source_name=testtone
set-default-source testtone
PA
export PULSE_SERVER="unix:$pulse_dir/native" PULSE_RUNTIME_PATH="$pulse_dir/runtime"
export PULSE_STATE_PATH="$pulse_dir/state" PULSE_COOKIE="$pulse_dir/cookie"
pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no -F "$pulse_dir/test.pa" \
  >"$pulse_dir/log" 2>&1 &
E2E_HELPER_PIDS+=($!)
require "the test's sound server answers" wait_until "$E2E_WAIT" pactl info

seed_project sound "OutputType=16" "RecordSound=1" \
  "TimerValue=100" "UseDesktopWindow=1" "UseMainAppWindow=0" "TakeShotOnKey=1"
video="$PROJECT_FOLDER/movie0.wmv"
sound="$PROJECT_FOLDER/movie1.wmv"
merged="$PROJECT_FOLDER/movie2.wmv"

start_and_open_project
require "Ctrl+Shift starts the recorder" toggle_recorder_to Active
require "the clip's picture file appears" wait_until "$E2E_WAIT" test -e "$video"
check "the sound file appears beside it" wait_until "$E2E_WAIT" test -s "$sound"
sleep 3
require "Ctrl+Shift pauses the recorder" toggle_recorder_to Paused
exit_with_escape

check "the merged file exists" test -s "$merged"
check "the picture file is gone after the merge" test ! -e "$video"
check "the sound file is gone after the merge" test ! -e "$sound"
streams=$(ffprobe -v error -show_entries stream=codec_type,codec_name -of csv=p=0 "$merged" | sort)
check "the merged file holds one wmv2 video and one wmav2 audio stream ($(tr '\n' ' ' <<<"$streams"))" \
  test "$streams" = "$(printf 'wmav2,audio\nwmv2,video')"
seconds() {
  ffprobe -v error -select_streams "$1:0" -show_entries packet=pts_time,duration_time -of csv=p=0 \
    "$merged" | awk -F, 'NR == 1 { first = $1 } { end = $1 + $2 } END { printf "%.2f", end - first }'
}
audio=$(seconds a)
pictures=$(seconds v)
echo "  audio ${audio} s, video ${pictures} s"
check "audio and video are of about equal length" \
  awk -v a="$audio" -v v="$pictures" 'BEGIN { d = a - v; exit !(v > 1 && d < 1.5 && d > -1.5) }'
volume=$(ffmpeg -hide_banner -nostats -i "$merged" -map 0:a:0 -af volumedetect -f null - 2>&1 |
  sed -n 's/.*mean_volume: \(-\?[0-9.]*\) dB.*/\1/p')
check "the tone is audible in the merged file (mean ${volume:-none} dB)" \
  awk -v v="${volume:--999}" 'BEGIN { exit !(v > -30) }'
e2e_finish
