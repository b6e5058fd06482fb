#!/usr/bin/env bash
# xvfb-args: --size 640x480
# kill -9 while a QuickTime clip records: the file holds its samples but no
# movie atom ("moov atom not found"), and the journal keeps the clip's
# record. The next start of the real program repairs it in the start-up box
# before the welcome dialog: the clip then plays, every sample decodes, at
# most the last frame in the file is missing, and its atoms are well formed.
source "$(dirname "$0")/../e2e/e2e_common.bash"
source "$(dirname "$0")/../e2e/shutdown_common.bash"

if [ -z "${MOV_ATOM_CHECK:-}" ] || [ ! -x "$MOV_ATOM_CHECK" ]; then
  echo "MOV_ATOM_CHECK must name the mov_atom_check tool" >&2
  exit 2
fi

# JPEG images begun in the file (the last one may be cut off).
jpeg_starts() { LC_ALL=C grep -obUaP '\xff\xd8\xff' "$1" 2>/dev/null | wc -l; }
jpeg_starts_at_least() { [ "$(jpeg_starts "$CLIP")" -ge "$1" ]; }

seed_project kill_mov "OutputType=15" "TimerValue=$PERIOD_MS" "UseDesktopWindow=1" \
  "UseMainAppWindow=0" "TakeShotOnKey=1" "TakeShotOnTimer=0"
CLIP="$PROJECT_FOLDER/movie0.mov"
start_motion
start_framory
open_project
require "Ctrl+Shift starts the recorder" toggle_recorder_to Active
require "recording creates movie0.mov" wait_until "$E2E_WAIT" test -s "$CLIP"
require "$CLIP_FRAMES samples reach the clip" wait_until "$E2E_WAIT" jpeg_starts_at_least "$CLIP_FRAMES"
check "the open clip is recorded in the journal" test "$(journal_records)" = 1
check "the record names the clip as a QuickTime clip" \
  grep -qaF "$CLIP"$'\x01'"mov" <(tr '\0' '\1' <"$JOURNAL_FOLDER"/*.journal)
kill -KILL "$FRAMORY_PID"
require "the program ends after kill -9" wait_framory_exit
in_file=$(jpeg_starts "$CLIP")
check "no player opens the killed clip" sh -c "! ffprobe -v error '$CLIP' >/dev/null 2>&1"
check "the record stays in the journal" test "$(journal_records)" = 1

start_framory
expect_repair_box
require "the welcome dialog follows" wait_window "$WELCOME"
check "the journal is empty" test "$(journal_records)" = 0
frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
  -of default=nw=1:nk=1 "$CLIP" 2>/dev/null)
echo "  movie0.mov: ${frames:-no} frames after the repair, $in_file images begun before"
check "at most the last image in the file is missing" \
  test "${frames:-0}" -ge $((in_file - 1)) -a "${frames:-0}" -le "$in_file"
decoded=$(ffmpeg -v error -xerror -i "$CLIP" -f framemd5 - 2>"$E2E_ROOT/decode.log" | grep -vc '^#')
check "ffmpeg decodes every frame without an error ($decoded)" \
  test "$decoded" = "${frames:-x}" -a ! -s "$E2E_ROOT/decode.log"
durations=$(ffprobe -v error -select_streams v:0 -show_entries packet=duration -of csv=p=0 "$CLIP")
check "every sample lasts whole periods" test -z "$(awk -v p="$PERIOD_MS" '$1 <= 0 || $1 % p != 0' <<<"$durations")"
check "the atoms of movie0.mov are well formed" "$MOV_ATOM_CHECK" "$CLIP"
require "Esc in the welcome dialog is accepted" press_in_window "$WELCOME" Escape
require "the program ends" wait_framory_exit
check "the exit status is 0 (got $FRAMORY_STATUS)" test "$FRAMORY_STATUS" = 0
e2e_finish
