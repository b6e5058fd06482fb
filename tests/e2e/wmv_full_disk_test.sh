#!/usr/bin/env bash
# xvfb-args: --size 1022x766
# A WMV clip (768 Kbps profile) recorded by a program whose files may not grow
# past 80 KB (SIGXFSZ ignored, so writes fail as on a full disk). The disk
# fills within the first seconds: the recorder must pause with its error box,
# the program must go on and exit cleanly, and the frames written before the
# failure must stay readable.
source "$(dirname "$0")/e2e_common.bash"

seed_project full "OutputType=18" \
  "TimerValue=100" "UseDesktopWindow=1" "UseMainAppWindow=0" "TakeShotOnKey=0"
clip="$PROJECT_FOLDER/movie0.wmv"

limited="$E2E_ROOT/framory-limited"
cat >"$limited" <<WRAPPER
#!/usr/bin/env bash
trap '' XFSZ
ulimit -f 80
exec "$FRAMORY_BIN" "\$@"
WRAPPER
chmod +x "$limited"
FRAMORY_BIN="$limited"

PAUSE_BOX='^Error - Recorder will go in pause mode$'

start_motion
start_and_open_project
require "Ctrl+Shift starts the recorder" toggle_recorder_to Active
require "recording creates movie0.wmv" wait_until "$E2E_WAIT" test -e "$clip"
require "the full disk brings the pause box" wait_window "$PAUSE_BOX"
check "the options view shows the pause" wait_window "$OPTIONS_PAUSED"
require "Enter closes the pause box" dismiss_box "$PAUSE_BOX"
check "the program is still running" framory_running
exit_with_escape

size=$(stat -c %s "$clip")
frames=$(ffprobe -v error -count_frames -select_streams v:0 \
  -show_entries stream=codec_name,nb_read_frames -of default=nw=1 "$clip" 2>/dev/null)
echo "  movie0.wmv: $size bytes; $(tr '\n' ' ' <<<"$frames")"
check "the clip stayed within the limit" test "$size" -le $((80 * 1024))
check "ffprobe reads the clip's wmv2 video" grep -qx 'codec_name=wmv2' <<<"$frames"
check "the frames before the failure decode" \
  test "$(sed -n 's/^nb_read_frames=//p' <<<"$frames")" -ge 1
e2e_finish
