# Shared steps of the tests that end framory while it records a clip (quit
# signals, the X server going away, kill -9 and the repair at the next start).
# Sourced after e2e_common.bash.
#
# Each run records into a project of its own with periodic shots every 100 ms.
# The run changes two stored values by itself: the first showing of the options
# view for a movie type turns periodic capture on and "Any key pressed" off, so
# the store afterwards shows whether the run's settings were saved.
#
# How many frames a clip should hold is never timed: just before the program
# is ended the test counts the frames already in the file, and the finished
# clip must hold at least those (so at most the frames in flight are lost).

PERIOD_MS=100
CLIP_FRAMES=15  # frames on disk before the program is ended (1.5 s of recording)

REPAIR_BOX='^Framory - Unfinished Movie Clip$'

# Waits for the one box of the start-up repair and closes it; the welcome
# dialog waits until it is gone.
expect_repair_box() {
  require "one box tells about the unfinished clip" wait_window "$REPAIR_BOX"
  check "there is exactly one such box" test "$(count_windows "$REPAIR_BOX")" = 1
  check "the welcome dialog waits for the box" window_gone "$WELCOME"
  require "Enter closes the box" dismiss_box "$REPAIR_BOX"
}

# Starts a run recording a clip of output type $1 into project $2; with a
# third argument, the start shows the repair box first.
start_recording() {
  local type="$1" project="$2"
  seed_project "$project" "OutputType=$type" "TimerValue=$PERIOD_MS" "UseDesktopWindow=1" \
    "UseMainAppWindow=0" "TakeShotOnKey=1" "TakeShotOnTimer=0"
  CLIP="$PROJECT_FOLDER/movie0.avi"
  start_motion
  start_framory
  [ -n "${3:-}" ] && expect_repair_box
  open_project
  require "Ctrl+Shift starts the recorder" toggle_recorder_to Active
  require "recording creates $(basename "$CLIP")" wait_until "$E2E_WAIT" test -s "$CLIP"
  require "$CLIP_FRAMES frames reach the clip" wait_until "$E2E_WAIT" clip_packets_at_least "$CLIP_FRAMES"
  FRAMES_BEFORE=$(clip_packets "$CLIP")
}

# Frames FFmpeg finds in a clip (also one still being written, which it reads
# without an index).
clip_packets() {
  ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets \
    -of default=nw=1:nk=1 "$1" 2>/dev/null | head -n 1
}
clip_packets_at_least() { [ "$(clip_packets "$CLIP")" -ge "$1" ] 2>/dev/null; }

# Little-endian 32-bit number and four-character tag at a byte offset.
le32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }
tag_at() { dd if="$1" iflag=skip_bytes,count_bytes skip="$2" count=4 status=none; }

# Reads the frame counts of the headers and the index of a one-part AVI file
# into AVI_AVIH, AVI_STRH, AVI_IDX1 (entries) and AVI_IDX1_PICTURES (entries
# of chunks that are not empty: a timer-driven clip holds the picture over
# positions no shot reached with empty chunks), checking on the way that the
# first and last index entries name frame chunks of their size (AVI_INDEX_OK).
read_avi_counts() {
  local f="$1" pos=12 end size id movi="" first last
  AVI_AVIH="" AVI_STRH="" AVI_IDX1="" AVI_IDX1_PICTURES="" AVI_INDEX_OK=0
  [ "$(tag_at "$f" 0)" = RIFF ] && [ "$(tag_at "$f" 24)" = avih ] &&
    [ "$(tag_at "$f" 100)" = strh ] || return 1
  AVI_AVIH=$(le32 "$f" 48)
  AVI_STRH=$(le32 "$f" 140)
  end=$(stat -c %s "$f")
  while [ $((pos + 8)) -le "$end" ]; do
    id=$(tag_at "$f" "$pos")
    size=$(le32 "$f" $((pos + 4)))
    [ "$id" = LIST ] && [ "$(tag_at "$f" $((pos + 8)))" = movi ] && movi=$((pos + 8))
    if [ "$id" = idx1 ]; then
      AVI_IDX1=$((size / 16))
      AVI_IDX1_PICTURES=$(od -An -v -tu4 -j $((pos + 8)) -N $((AVI_IDX1 * 16)) "$f" |
        tr -s ' ' '\n' | awk 'NF && ++n % 4 == 0 && $1 > 0' | wc -l)
      [ -n "$movi" ] && [ "$AVI_IDX1" -gt 0 ] || return 0
      AVI_INDEX_OK=1
      for first in $((pos + 8)) $((pos + 8 + size - 16)); do
        last=$((movi + $(le32 "$f" $((first + 8)))))
        case "$(tag_at "$f" "$last")" in 00dc | 00db) ;; *) AVI_INDEX_OK=0 ;; esac
        [ "$(le32 "$f" $((last + 4)))" = "$(le32 "$f" $((first + 12)))" ] || AVI_INDEX_OK=0
      done
      return 0
    fi
    pos=$((pos + 8 + size + size % 2))
  done
}

# |duration - frames x period| <= one period, in milliseconds.
duration_fits() {
  local duration_ms
  duration_ms=$(awk -v d="$1" 'BEGIN { printf "%d", d * 1000 + 0.5 }')
  local diff=$((duration_ms - $2 * PERIOD_MS))
  [ "${diff#-}" -le "$PERIOD_MS" ] || { echo "  duration ${1}s for $2 frames"; return 1; }
}

# The clip is finished: the header counts and the index agree on the clip's
# positions, the index's pictures are FFmpeg's decoded frames, the duration
# is one period per position, and no frame that was in the file before the
# program was ended is missing.
check_finished_clip() {
  local clip="$1" name info frames duration
  name=$(basename "$(dirname "$clip")")/$(basename "$clip")
  info=$(ffprobe -v error -count_frames -select_streams v:0 \
    -show_entries stream=nb_read_frames,duration -of default=nw=1 "$clip" 2>/dev/null)
  frames=$(sed -n 's/^nb_read_frames=//p' <<<"$info")
  duration=$(sed -n 's/^duration=//p' <<<"$info")
  echo "  $name: ${frames:-no} frames decoded, ${FRAMES_BEFORE:-?} on disk before the end"
  check "$name: ffprobe decodes frames" test "${frames:-0}" -gt 0
  check "$name: the headers and the index are readable" read_avi_counts "$clip"
  check "$name: the main header counts every position (${AVI_AVIH:-none})" \
    test "$AVI_AVIH" = "$AVI_IDX1"
  check "$name: the stream header counts every position (${AVI_STRH:-none})" \
    test "$AVI_STRH" = "$AVI_IDX1"
  check "$name: the index has an entry per picture (${AVI_IDX1_PICTURES:-none} of ${AVI_IDX1:-none})" \
    test "$AVI_IDX1_PICTURES" = "$frames"
  check "$name: the index entries name the frames' chunks" test "$AVI_INDEX_OK" = 1
  check "$name: the duration fits the positions" duration_fits "${duration:-0}" "${AVI_IDX1:-0}"
  check "$name: no frame already written was lost" test "${frames:-0}" -ge "${FRAMES_BEFORE:-1}"
}

# The store holds the values of the run (all 27, and the two the run changed).
check_run_settings_saved() {
  check "the store holds all 27 values" registry_has_all_values
  check "the run's periodic capture was saved" registry_is TakeShotOnTimer 1
  check "the run's 'Any key pressed' off was saved" registry_is TakeShotOnKey 0
}

JOURNAL_FOLDER="$XDG_STATE_HOME/framory"
journal_records() { find "$JOURNAL_FOLDER" -name '*.journal' 2>/dev/null | wc -l; }
