#!/usr/bin/env bash
# xvfb-args: --size 640x480
# Sound and pictures in step in MP4 and WebM clips (types 20 and 21) with
# "Record Sound as Well" and "Sound from:" on the desktop's sound. A square
# at the top left turns white at the moment a tone starts playing into the
# desktop's sink (both by one helper, tone_flash), once soon after the clip
# starts and once after a pause and resume. ffmpeg records the same screen
# corner (x11grab) and the same sound (pulse) in the same run, both on its
# wall clock. In each of Framory's clips, the first white picture and the
# tone's start may be no further apart than in ffmpeg's recording plus one
# frame period (50 ms) and 20 ms.
source "$(dirname "$0")/e2e_common.bash"

if [ -z "${FRAMORY_TONE_FLASH:-}" ] || [ ! -x "$FRAMORY_TONE_FLASH" ]; then
  echo "FRAMORY_TONE_FLASH must name the tone_flash helper" >&2
  exit 2
fi

# A sound server of the test's own: one null sink at the sound's rate, the
# default one, whose monitor is the desktop's sound.
pulse_dir="$E2E_ROOT/pulse"
mkdir -p "$pulse_dir"
cat >"$pulse_dir/test.pa" <<PA
load-module module-native-protocol-unix socket=$pulse_dir/native auth-anonymous=1
load-module module-null-sink sink_name=desktop rate=48000
set-default-sink desktop
PA
export PULSE_SERVER="unix:$pulse_dir/native" PULSE_RUNTIME_PATH="$pulse_dir/runtime"
export PULSE_STATE_PATH="$pulse_dir/state" PULSE_COOKIE="$pulse_dir/cookie"
pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no -F "$pulse_dir/test.pa" \
  >"$pulse_dir/log" 2>&1 &
E2E_HELPER_PIDS+=($!)
require "the test's sound server answers" wait_until "$E2E_WAIT" pactl info

# The flashing square with its tone; it keeps the sink playing (an idle null
# sink renders seconds ahead, and its monitor then lags as much).
mkfifo "$E2E_ROOT/flash"
"$FRAMORY_TONE_FLASH" show desktop <"$E2E_ROOT/flash" >"$E2E_ROOT/flash.out" 2>&1 &
E2E_HELPER_PIDS+=($!)
exec 3>"$E2E_ROOT/flash"
require "the flashing square is shown and plays" wait_until "$E2E_WAIT" grep -q ready "$E2E_ROOT/flash.out"
sleep 3
flash() { echo flash >&3; }

# Matches the flashes of two measurements, line by line: in each, picture
# and tone of the first may be no further apart than those of the second
# plus 70 ms.
offsets_agree() {
  paste -d ' ' "$1" "$2" | awk -v most=0.070 '
    NF < 6 || $3 == "none" || $6 == "none" { bad = 1; next }
    { f = $3 < 0 ? -$3 : $3; r = $6 < 0 ? -$6 : $6; if (f > r + most) bad = 1 }
    END { exit bad || NR != 2 }'
}

record_sync_clip() {
  local type="$1" extension="$2" clip reference ffmpeg_pid
  seed_project "sync$type" "OutputType=$type" "RecordSound=1" "SoundSource=1" \
    "TimerValue=50" "UseDesktopWindow=1" "UseMainAppWindow=0" "TakeShotOnKey=0"
  clip="$PROJECT_FOLDER/movie0.$extension"
  reference="$E2E_ROOT/reference$type.mkv"
  ffmpeg -hide_banner -nostdin -loglevel error -f x11grab -framerate 20 -video_size 96x96 \
    -i "$DISPLAY+0,0" -f pulse -sample_rate 48000 -channels 2 -i desktop.monitor -copyts \
    -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a pcm_f32le -f matroska "$reference" \
    >"$E2E_ROOT/ffmpeg$type.log" 2>&1 &
  ffmpeg_pid=$!
  E2E_HELPER_PIDS+=($ffmpeg_pid)

  start_and_open_project
  require "Ctrl+Shift starts the recorder (type $type)" toggle_recorder_to Active
  require "recording creates $clip" wait_until "$E2E_WAIT" test -e "$clip"
  sleep 1.5
  flash
  sleep 1.5
  require "Ctrl+Shift pauses the recorder" toggle_recorder_to Paused
  sleep 1
  require "Ctrl+Shift resumes the recorder" toggle_recorder_to Active
  sleep 1.5
  flash
  sleep 1.5
  require "Ctrl+Shift pauses the recorder again" toggle_recorder_to Paused
  check "no error box while recording type $type" window_gone '^Error'
  exit_with_escape
  kill -INT "$ffmpeg_pid"
  wait "$ffmpeg_pid"

  "$FRAMORY_TONE_FLASH" measure "$clip" >"$E2E_ROOT/framory$type.txt"
  "$FRAMORY_TONE_FLASH" measure "$reference" >"$E2E_ROOT/reference$type.txt"
  echo "  type $type, Framory (white picture, tone, tone less picture):"
  sed 's/^/    /' "$E2E_ROOT/framory$type.txt"
  echo "  ffmpeg x11grab + pulse:"
  sed 's/^/    /' "$E2E_ROOT/reference$type.txt"
  check "the clip holds a sound stream" \
    test -n "$(ffprobe -v error -select_streams a -show_entries stream=codec_name -of csv=p=0 "$clip")"
  check "tone and picture of both flashes are no further apart than in ffmpeg's recording + 70 ms" \
    offsets_agree "$E2E_ROOT/framory$type.txt" "$E2E_ROOT/reference$type.txt"
}

record_sync_clip 20 mp4
record_sync_clip 21 webm
e2e_finish
