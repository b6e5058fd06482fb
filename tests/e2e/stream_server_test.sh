#!/usr/bin/env bash
# xvfb-args: --size 800x600
# Output type 31 in the real program against a real streaming server: nginx
# with its RTMP module on loopback, in the test's own network namespace.
# - ffmpeg plays the pushed RTMP stream and the server's HLS playlist, and
#   the picture is the screen (the desktop's colour where no window is);
# - with "Record Sound as Well" the stream carries the sound server's tone
#   (a PulseAudio server of the test's own, 440 Hz as the default source);
# - pausing the recorder sends nothing; after a pause long enough for the
#   server to drop the idle stream, resuming publishes again with the time
#   stamps going on;
# - the server killed and restarted mid-broadcast: the stream comes back
#   (the seconds it took are printed), and while the server is stopped
#   (SIGSTOP, a stalled server) the recorder still answers Ctrl+Shift;
# - a key the server refuses (on_publish answers 403) gives one box and a
#   pause;
# - an SRT address streams MPEG-TS to ffmpeg listening in SRT mode;
# - the stream key is never in the program's stderr, its window titles, or
#   any file but the settings store (which stays mode 0600).
source "$(dirname "$0")/e2e_common.bash"

STREAM_SERVER="$(cd "$(dirname "$0")/../support" && pwd)/stream-server.sh"
RTMP_PORT=1935
HLS_PORT=8088
KEY=Zq7xK31vTe9w
BAD_KEY=badW4m9QpL2
SRT_KEY=srtH8n2RcV5y
SERVER_DIR="$E2E_ROOT/server"
SERVER_PID=""
# The desktop's colour, painted on the root window: where no window is, the
# stream shows it.
ROOT_RGB="32 128 192"
xsetroot -solid '#2080c0'

start_server() {
  "$STREAM_SERVER" "$SERVER_DIR" "$RTMP_PORT" "$HLS_PORT" >>"$E2E_ROOT/nginx.out" 2>&1 &
  SERVER_PID=$!
  E2E_HELPER_PIDS+=("$SERVER_PID")
  wait_until "$E2E_WAIT" port_open "$RTMP_PORT"
}
port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
publishes() { grep -c "publish: name='$1'" "$SERVER_DIR/logs/error.log" 2>/dev/null || true; }
# The server has seen more than $2 publications of stream $1.
published_more_than() { [ "$(publishes "$1")" -gt "$2" ]; }

rtmp_url="rtmp://127.0.0.1:$RTMP_PORT/live/$KEY"
hls_url="http://127.0.0.1:$HLS_PORT/hls/$KEY.m3u8"
plays() { timeout 30 ffmpeg -nostdin -v error -i "$1" -frames:v 3 -f null - 2>/dev/null; }
# Bytes the recorder's RTMP connection has had acknowledged by the server.
sent_bytes() {
  ss -tinH state established "( dport = :$RTMP_PORT )" 2>/dev/null |
    grep -o 'bytes_acked:[0-9]*' | cut -d: -f2 | sort -n | tail -n 1
}
# The mean red, green and blue of a 16 x 16 block at the bottom-right corner
# of a frame of the stream, where no window is.
corner_rgb() {
  timeout 30 ffmpeg -nostdin -v error -i "$1" -frames:v 1 -vf "crop=16:16:iw-24:ih-24" \
    -f rawvideo -pix_fmt rgb24 - 2>/dev/null | od -An -v -tu1 |
    awk '{for (i = 1; i <= NF; i++) {s[(n % 3)] += $i; n++}} END {if (n) printf "%d %d %d", 3*s[0]/n, 3*s[1]/n, 3*s[2]/n}'
}
near_colour() {
  local got=($1) want=($2) i
  [ ${#got[@]} = 3 ] || return 1
  for i in 0 1 2; do
    [ $((got[i] - want[i])) -le 12 ] && [ $((want[i] - got[i])) -le 12 ] || return 1
  done
}
# No trace of a key in the program's output, its windows' titles, or the
# files it wrote (the store is looked at apart).
key_hidden() {
  local key=$1 titles
  titles=$(for id in $(xdotool search --all --pid "$FRAMORY_PID" --name '' 2>/dev/null); do
    xdotool getwindowname "$id" 2>/dev/null; done)
  ! grep -q "$key" "$E2E_ROOT/framory.log" &&
    ! grep -q "$key" <<<"$titles" &&
    ! grep -rlq --exclude=registry.ini "$key" "$E2E_ROOT/home" "$E2E_ROOT/config" \
      "$E2E_ROOT/state" "$RESULTS_DIR" 2>/dev/null
}
now() { date +%s.%N; }
seconds_since() { awk -v a="$1" -v b="$(now)" 'BEGIN {printf "%.1f", b - a}'; }

require "the streaming server starts" start_server

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

seed_project live "OutputType=31" "StreamServerAddress=$rtmp_url" \
  "RememberStreamServerAddress=1" "RecordSound=1" "TimerValue=100" \
  "UseDesktopWindow=1" "UseMainAppWindow=0"
start_and_open_project
require "Ctrl+Shift starts the broadcast" toggle_recorder_to Active
require "the recorder publishes to the server" wait_until "$E2E_WAIT" published_more_than "$KEY" 0
check "ffmpeg plays the RTMP stream" wait_until "$E2E_WAIT" plays "$rtmp_url"
check "ffmpeg plays the server's HLS playlist" wait_until "$E2E_WAIT" plays "$hls_url"
size=$(timeout 30 ffprobe -v error -select_streams v:0 -show_entries stream=width,height,codec_name \
  -of csv=p=0 "$rtmp_url" 2>/dev/null)
check "the stream is the 800x600 screen in H.264 (got '$size')" test "$size" = "h264,800,600"
colour=$(corner_rgb "$rtmp_url")
check "the stream shows the desktop's colour where no window is (got '$colour', want '$ROOT_RGB')" \
  near_colour "$colour" "$ROOT_RGB"

streams=$(timeout 30 ffprobe -v error -show_entries stream=codec_type,codec_name -of csv=p=0 \
  "$rtmp_url" 2>/dev/null | sort | tr '\n' ' ')
check "the stream holds AAC sound beside the H.264 pictures (got '$streams')" \
  test "$streams" = "aac,audio h264,video "
volume=$(timeout 30 ffmpeg -hide_banner -nostats -i "$rtmp_url" -t 3 -map 0:a:0 -af volumedetect \
  -f null - 2>&1 | sed -n 's/.*mean_volume: \(-\?[0-9.]*\) dB.*/\1/p')
check "the tone is heard in the stream (mean ${volume:-none} dB)" \
  awk -v v="${volume:--999}" 'BEGIN { exit !(v > -30) }'

require "Ctrl+Shift pauses the broadcast" toggle_recorder_to Paused
sleep 1
before=$(sent_bytes)
sleep 3
after=$(sent_bytes)
check "nothing is sent while paused (${before:-none} then ${after:-none} bytes)" \
  test -n "$before" -a "$before" = "$after"
# A long pause: the server drops the idle stream (after 8 s); the resume
# publishes again, and the stream's time goes on from where it was.
published=$(publishes "$KEY")
sleep 8
require "Ctrl+Shift resumes the broadcast" toggle_recorder_to Active
check "the resume publishes again to the server that dropped the idle stream" \
  wait_until "$E2E_WAIT" published_more_than "$KEY" "$published"
check "the stream goes on after the resume" wait_until "$E2E_WAIT" plays "$rtmp_url"
start=$(timeout 30 ffprobe -v error -select_streams v:0 -show_entries packet=pts_time -of csv=p=0 \
  -read_intervals '%+#1' "$rtmp_url" 2>/dev/null | head -n 1)
check "the time stamps go on after the pause (first picture at ${start:-none} s)" \
  awk -v t="${start:--1}" 'BEGIN { exit !(t >= 3) }'

# A stalled server: stopped, it takes nothing and answers nothing. The
# recorder must still answer its chord while the server is stopped.
kill -STOP "$SERVER_PID"
sleep 2
t0=$(now)
check "Ctrl+Shift pauses while the server is stalled" toggle_recorder_to Paused
pause_s=$(seconds_since "$t0")
t0=$(now)
check "Ctrl+Shift resumes while the server is stalled" toggle_recorder_to Active
resume_s=$(seconds_since "$t0")
check "the server was still stalled when the recorder answered" \
  grep -q '^State:.*T' "/proc/$SERVER_PID/status"
echo "  chord answered in ${pause_s} s and ${resume_s} s with the server stalled"
kill -CONT "$SERVER_PID"

# The server killed and started again.
published=$(publishes "$KEY")
kill -9 "$SERVER_PID"
wait "$SERVER_PID" 2>/dev/null
sleep 3
check "the recorder runs on without its server" framory_running
restart=$(now)
require "the streaming server starts again" start_server
check "the recorder publishes again after the restart" \
  wait_until "$E2E_WAIT" published_more_than "$KEY" "$published"
echo "  the stream was back $(seconds_since "$restart") s after the restart"
check "ffmpeg plays the stream again" wait_until "$E2E_WAIT" plays "$rtmp_url"

check "the key is in no output, title or file of the program" key_hidden "$KEY"
exit_with_escape
check "the store holds the remembered address" registry_is StreamServerAddress "$rtmp_url"
check "the store is readable by its owner alone" test "$(stat -c %a "$REGISTRY_FILE")" = 600
check "the key is in no output or file of the program after the exit" key_hidden "$KEY"

# A refused key: one box, and the recorder pauses. FFmpeg's messages are let
# through at their usual level here, so that any that named the address
# would show in the output.
export FRAMORY_MEDIA_LOG=1
seed_project refused "OutputType=31" \
  "StreamServerAddress=rtmp://127.0.0.1:$RTMP_PORT/live/$BAD_KEY" \
  "RememberStreamServerAddress=0" "RecordSound=0" "TimerValue=100" \
  "UseDesktopWindow=1" "UseMainAppWindow=0"
start_and_open_project
REFUSED_BOX='^Broadcast Not Taken$'
chord_ctrl_shift
check "a refused key gives the box" wait_window "$REFUSED_BOX"
check "only one box" test "$(count_windows "$REFUSED_BOX")" = 1
check "the recorder is paused" wait_window "$OPTIONS_PAUSED"
check "the box is dismissed" dismiss_box "$REFUSED_BOX"
check "the refused key is in no output, title or file" key_hidden "$BAD_KEY"
exit_with_escape
check "an address not remembered is not stored" test -z "$(registry_value StreamServerAddress)"

unset FRAMORY_MEDIA_LOG

# SRT: MPEG-TS to ffmpeg listening in SRT mode.
srt_port=9000
timeout 60 ffmpeg -nostdin -v error -i "srt://127.0.0.1:$srt_port?mode=listener" -frames:v 20 \
  -f framemd5 "$E2E_ROOT/srt.md5" >"$E2E_ROOT/srt.log" 2>&1 &
srt_pid=$!
E2E_HELPER_PIDS+=("$srt_pid")
sleep 1
seed_project srt "OutputType=31" \
  "StreamServerAddress=srt://127.0.0.1:$srt_port?streamid=$SRT_KEY" \
  "RememberStreamServerAddress=0" "RecordSound=0" "TimerValue=100" \
  "UseDesktopWindow=1" "UseMainAppWindow=0"
start_and_open_project
require "Ctrl+Shift starts the SRT broadcast" toggle_recorder_to Active
srt_done() { ! kill -0 "$srt_pid" 2>/dev/null; }
check "ffmpeg receives 20 frames over SRT" wait_until "$E2E_WAIT" eval 'srt_done && [ "$(grep -c "^0," "$E2E_ROOT/srt.md5" 2>/dev/null)" -ge 20 ]'
check "the SRT key is in no output, title or file" key_hidden "$SRT_KEY"
exit_with_escape
e2e_finish
