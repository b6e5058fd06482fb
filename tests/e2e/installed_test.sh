#!/usr/bin/env bash
# The program as installed with `cmake --install` into a fresh prefix, started
# through bin/framory with no library path or other environment set up for
# it: it passes the welcome dialog, records a PNG picture and an AVI clip, and
# "Help and Tutorials..." opens the help page that sits beside the installed
# program.
set -u
if [ -z "${FRAMORY_BUILD_DIR:-}" ]; then
  echo "FRAMORY_BUILD_DIR must name the build folder" >&2
  exit 2
fi
prefix=$(mktemp -d "${TMPDIR:-/tmp}/framory-prefix.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
if ! cmake --install "$FRAMORY_BUILD_DIR" --prefix "$prefix" >"$prefix.log" 2>&1; then
  cat "$prefix.log"
  echo "FAIL: cmake --install into $prefix"
  exit 1
fi
rm -f "$prefix.log"
export FRAMORY_BIN="$prefix/bin/framory"
source "$(dirname "$0")/e2e_common.bash"
trap 'e2e_cleanup; rm -rf "$prefix"' EXIT

check "bin/framory is a symbolic link into lib/framory" \
  test "$(readlink -f "$FRAMORY_BIN")" = "$(readlink -f "$prefix/lib/framory/framory")"
for f in framory.html framory.wmv libCinelink.so QuickTime.qts; do
  check "$f is installed beside the program" test -s "$prefix/lib/framory/$f"
done
check "the menu entry is installed" test -s "$prefix/share/applications/framory.desktop"
check "the icon is installed" test -s "$prefix/share/icons/hicolor/48x48/apps/framory.png"
check "the program needs no LD_LIBRARY_PATH (ldd finds every library)" \
  test -z "$(env -u LD_LIBRARY_PATH ldd "$prefix/lib/framory/framory" | grep 'not found')"

# The desktop's opener notes what it was asked to open, as a browser would
# be handed the page.
use_noting_opener

seed_project installed "OutputType=3" "UseDesktopWindow=1" "UseMainAppWindow=0" \
  "TakeShotOnKey=0" "TakeShotOnClick=0" "TakeShotOnTimer=0"

start_framory
require "the welcome dialog appears" wait_window "$WELCOME"
welcome=$(find_window "$WELCOME")
# "Help and Tutorials..." sits at 109,120 (73 x 14) of the 293 x 163 template.
click_control "$welcome" 293 163 109 120 73 14
opened_page() { [ -s "$E2E_ROOT/opened" ]; }
check "Help and Tutorials... asks the desktop to open a page" wait_until "$E2E_WAIT" opened_page
page=$(head -n 1 "$E2E_ROOT/opened" 2>/dev/null)
page=${page#file://}
check "the page opened is the installed help page ($page)" \
  test "$(readlink -f "$page")" = "$(readlink -f "$prefix/lib/framory/framory.html")"

require "Enter on the welcome dialog starts the project" press_in_window "$WELCOME" Return
require "the options view appears, paused" wait_window "$OPTIONS_PAUSED"
require "the 'Framory Pausing...' box appears" wait_window "$PAUSING_BOX"
require "Enter closes the 'Framory Pausing...' box" dismiss_box "$PAUSING_BOX"

require "Ctrl+Shift starts the recorder" toggle_recorder_to Active
xdotool key ctrl+Print
check "Ctrl+Print Screen writes pic0.png" wait_until "$E2E_WAIT" test -s "$PROJECT_FOLDER/pic0.png"
# The file exists as soon as its first bytes are written: wait for the whole
# picture rather than read a half-written one.
is_png() { [ "$(identify -format '%m' "$PROJECT_FOLDER/pic0.png" 2>/dev/null)" = PNG ]; }
check "pic0.png is a PNG picture" wait_until "$E2E_WAIT" is_png
require "Ctrl+Shift pauses the recorder" toggle_recorder_to Paused
exit_with_escape

# A second run records an uncompressed AVI clip from periodic shots.
seed_project installed "OutputType=11" "TimerValue=100" "TakeShotOnTimer=1" \
  "UseDesktopWindow=1" "UseMainAppWindow=0" "TakeShotOnKey=0" "TakeShotOnClick=0"
start_and_open_project
require "Ctrl+Shift starts the recorder" toggle_recorder_to Active
clip="$PROJECT_FOLDER/movie0.avi"
has_frames() { [ "$(stat -c %s "$clip" 2>/dev/null || echo 0)" -gt 1000000 ]; }
check "recording writes movie0.avi" wait_until "$E2E_WAIT" has_frames
require "Ctrl+Shift pauses the recorder" toggle_recorder_to Paused
exit_with_escape
frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
  -of default=nw=1:nk=1 "$clip" 2>/dev/null)
check "ffprobe decodes frames of movie0.avi (got ${frames:-none})" test "${frames:-0}" -ge 1

# A third run records a QuickTime clip: the installed Cinelink finds the
# installed QuickTime.qts beside the program.
seed_project installed "OutputType=15" "TimerValue=100" "TakeShotOnTimer=1" \
  "UseDesktopWindow=1" "UseMainAppWindow=0" "TakeShotOnKey=0" "TakeShotOnClick=0"
start_and_open_project
require "Ctrl+Shift starts the recorder" toggle_recorder_to Active
mov="$PROJECT_FOLDER/movie0.mov"
# The movie's samples are written as the clip goes on and its index when the
# clip ends, so the file is checked after the program has ended.
check "recording creates movie0.mov" wait_until "$E2E_WAIT" test -s "$mov"
sleep 1
require "Ctrl+Shift pauses the recorder" toggle_recorder_to Paused
exit_with_escape
codec=$(ffprobe -v error -select_streams v:0 -show_entries stream=codec_name,codec_tag_string \
  -of csv=p=0 "$mov" 2>/dev/null)
check "ffprobe reads movie0.mov as Photo-JPEG (got ${codec:-nothing})" test "$codec" = mjpeg,jpeg

e2e_finish
