# Shared steps of the end-to-end tests: each test sources this file, starts the
# real framory program inside the X session that with-xvfb.sh made, and drives
# it from outside with xdotool, as a person would. Every wait is a bounded
# polling loop on something observable (a window, a window title, a file, the
# process ending); the bounds only decide when to give up.
#
# The program gets a private XDG_CONFIG_HOME and HOME, so its registry file and
# its default pictures folder live in a temporary folder that goes at the end.
set -u

if [ -z "${FRAMORY_BIN:-}" ] || [ ! -x "$FRAMORY_BIN" ]; then
  echo "FRAMORY_BIN must name the framory program (got '${FRAMORY_BIN:-}')" >&2
  exit 2
fi
if [ -z "${DISPLAY:-}" ]; then
  echo "no DISPLAY: run the test through tests/support/with-xvfb.sh" >&2
  exit 2
fi

if ! xwininfo -root >/dev/null 2>&1; then
  echo "FAIL: the X server on $DISPLAY cannot be reached"
  exit 1
fi

E2E_ROOT=$(mktemp -d "${TMPDIR:-/tmp}/framory-e2e.XXXXXX")
E2E_FAILURES=0
FRAMORY_PID=""
FRAMORY_STATUS=""
E2E_HELPER_PIDS=()
# How long any single wait may take before the step counts as failed. Generous,
# because the tests must also pass on a loaded machine.
E2E_WAIT=${E2E_WAIT:-30}

export XDG_CONFIG_HOME="$E2E_ROOT/config"
export HOME="$E2E_ROOT/home"
export XDG_RUNTIME_DIR="$E2E_ROOT/runtime"
# The journal of open movie clips.
export XDG_STATE_HOME="$E2E_ROOT/state"
mkdir -p "$XDG_CONFIG_HOME" "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
REGISTRY_FILE="$XDG_CONFIG_HOME/framory/registry.ini"

# The 28 values the program keeps between runs.
REGISTRY_NAMES=(TakeShotOnPrintScreen TakeShotOnClick TakeShotOnWinEvent TakeShotOnKey
  TakeShotOnTimer TakeShotOnAuto RestoreMouse RecordSound UseDesktopWindow UseMainAppWindow
  UseForegrounWindow UseForegrounWindowInside UseArea PutCursorInBitmap ResizeFGWindow
  SizeWindowToMovieSize HasMarkUserArea UserAreaBottom UserAreaTop UserAreaLeft UserAreaRight
  ResizeFGWindowX ResizeFGWindowY OutputType TimerValue ProjectDirectory ProjectName
  BareChordOnly)

e2e_cleanup() {
  local pid
  if [ -n "$FRAMORY_PID" ] && kill -0 "$FRAMORY_PID" 2>/dev/null; then
    kill "$FRAMORY_PID" 2>/dev/null
    for _ in $(seq 1 100); do kill -0 "$FRAMORY_PID" 2>/dev/null || break; sleep 0.05; done
    kill -9 "$FRAMORY_PID" 2>/dev/null
    wait "$FRAMORY_PID" 2>/dev/null
  fi
  # Helpers get a moment to end on SIGTERM; one that does not (ffplay can
  # hang in its own exit while its threads wind down) is killed.
  for pid in "${E2E_HELPER_PIDS[@]}"; do
    kill "$pid" 2>/dev/null
    for _ in $(seq 1 40); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    kill -9 "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  if [ "$E2E_FAILURES" -gt 0 ] && [ -f "$E2E_ROOT/framory.log" ]; then
    echo "--- framory output ---"
    cat "$E2E_ROOT/framory.log"
  fi
  if [ -n "${E2E_KEEP:-}" ]; then
    echo "kept $E2E_ROOT"
  else
    rm -rf "$E2E_ROOT"
  fi
}
trap e2e_cleanup EXIT
trap 'exit 130' INT TERM

pass() { echo "PASS: $*"; }
fail() {
  echo "FAIL: $*"
  E2E_FAILURES=$((E2E_FAILURES + 1))
}
# check "what is checked" command...: runs the command and reports the result.
check() {
  local what="$1"
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
# Ends the test at once (a later step cannot run without this one).
require() {
  local what="$1"
  shift
  if "$@"; then
    pass "$what"
  else
    fail "$what"
    e2e_finish
  fi
}
e2e_finish() {
  if [ "$E2E_FAILURES" -gt 0 ]; then
    echo "$E2E_FAILURES check(s) failed"
    exit 1
  fi
  echo "all checks passed"
  exit 0
}

# wait_until SECONDS command...: polls the command until it succeeds.
wait_until() {
  local seconds="$1"
  shift
  local tries=$((seconds * 20))
  for _ in $(seq 1 "$tries"); do
    "$@" && return 0
    sleep 0.05
  done
  "$@"
}

# Writes the registry file with the given Name=Text lines.
seed_registry() {
  mkdir -p "$(dirname "$REGISTRY_FILE")"
  {
    printf '[Software\\Framory]\n'
    printf '%s\n' "$@"
  } >"$REGISTRY_FILE"
}

# Where the tests keep their projects.
RESULTS_DIR="$E2E_ROOT/results/"

# Seeds the registry with the project $1 in RESULTS_DIR (made here) and the
# other Name=Text lines given; PROJECT_FOLDER is where its files will go.
seed_project() {
  local name=$1
  shift
  mkdir -p "$RESULTS_DIR"
  PROJECT_FOLDER="$RESULTS_DIR$name"
  seed_registry "ProjectDirectory=$RESULTS_DIR" "ProjectName=$name" "$@"
}

# How many PNG pictures the project folder holds.
pictures() { find "$PROJECT_FOLDER" -maxdepth 1 -name 'pic*.png' 2>/dev/null | wc -l; }

# The stored text of one value, empty when missing.
registry_value() {
  [ -f "$REGISTRY_FILE" ] || return 0
  sed -n "s/^$1=//p" "$REGISTRY_FILE" | tail -n 1
}

registry_has_all_values() {
  [ -f "$REGISTRY_FILE" ] || { echo "  no $REGISTRY_FILE"; return 1; }
  grep -qx '\[Software\\Framory\]' "$REGISTRY_FILE" || { echo "  no [Software\\Framory]"; return 1; }
  local name missing=0
  for name in "${REGISTRY_NAMES[@]}"; do
    if ! grep -q "^$name=" "$REGISTRY_FILE"; then
      echo "  missing value $name"
      missing=1
    fi
  done
  [ "$missing" = 0 ]
}

registry_is() {
  local actual
  actual=$(registry_value "$1")
  [ "$actual" = "$2" ] && return 0
  echo "  $1 is '$actual', expected '$2'"
  return 1
}

start_framory() {
  "$FRAMORY_BIN" >"$E2E_ROOT/framory.log" 2>&1 &
  FRAMORY_PID=$!
  FRAMORY_STATUS=""
}

framory_running() { kill -0 "$FRAMORY_PID" 2>/dev/null; }
framory_gone() { ! framory_running; }

# Waits for the program to end and keeps its exit status in FRAMORY_STATUS.
wait_framory_exit() {
  wait_until "$E2E_WAIT" framory_gone || return 1
  wait "$FRAMORY_PID"
  FRAMORY_STATUS=$?
  FRAMORY_PID=""
  return 0
}

# The visible top-level window of framory whose title matches the extended
# regular expression, printed as its id.
find_window() {
  xdotool search --all --onlyvisible --pid "$FRAMORY_PID" --name "$1" 2>/dev/null | head -n 1
}
window_shown() { [ -n "$(find_window "$1")" ]; }
window_gone() { [ -z "$(find_window "$1")" ]; }
count_windows() {
  xdotool search --all --onlyvisible --pid "$FRAMORY_PID" --name "$1" 2>/dev/null | wc -l
}

# Gives up at once when the program has ended meanwhile.
window_shown_or_gone() { window_shown "$1" || ! framory_running; }
wait_window() {
  wait_until "$E2E_WAIT" window_shown_or_gone "$1"
  window_shown "$1" && return 0
  framory_running || echo "  framory is no longer running"
  return 1
}
wait_window_gone() { wait_until "$E2E_WAIT" window_gone "$1"; }

# Gives the keyboard to a window: through the window manager when there is
# one, else straight to the window.
focus_window() {
  local id="$1"
  if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
    timeout 10 xdotool windowactivate --sync "$id" >/dev/null 2>&1 && return 0
  fi
  timeout 10 xdotool windowfocus --sync "$id" >/dev/null 2>&1
}

# press_in_window REGEX KEY: finds the window, gives it the keyboard and
# presses the key there.
press_in_window() {
  local id
  wait_window "$1" || { echo "  no window '$1'"; return 1; }
  id=$(find_window "$1")
  focus_window "$id" || { echo "  could not focus '$1'"; return 1; }
  xdotool key "$2"
}

# Dismisses a message box with Enter and waits until it is gone.
dismiss_box() {
  press_in_window "$1" Return || return 1
  wait_window_gone "$1"
}

# The Ctrl-then-Shift chord (start, pause, resume) and the Shift-then-Ctrl
# chord (show or hide the options view), typed on the keyboard.
chord_ctrl_shift() { xdotool keydown ctrl keydown shift keyup shift keyup ctrl; }
chord_shift_ctrl() { xdotool keydown shift keydown ctrl keyup ctrl keyup shift; }

# Titles of the options view.
OPTIONS_ANY='^Desktop Framory Settings( \(Recording (Active|Paused)\))?$'
OPTIONS_ACTIVE='^Desktop Framory Settings \(Recording Active\)$'
OPTIONS_PAUSED='^Desktop Framory Settings \(Recording Paused\)$'
WELCOME='^Desktop Framory$'
PAUSING_BOX='^Framory Pausing\.\.\.$'

# Clicks a control of a dialog given the dialog's template size and the
# control's rectangle, all in dialog units. The dialog's client area is the
# template size converted with whole-pixel base units, so the base units can be
# read back from the window's size.
click_control() {
  local id="$1" template_w="$2" template_h="$3" x="$4" y="$5" w="$6" h="$7" button="${8:-1}"
  local geometry width height base_x base_y px py
  geometry=$(xdotool getwindowgeometry --shell "$id") || return 1
  width=$(sed -n 's/^WIDTH=//p' <<<"$geometry")
  height=$(sed -n 's/^HEIGHT=//p' <<<"$geometry")
  base_x=$(((width * 4 + template_w / 2) / template_w))
  base_y=$(((height * 8 + template_h / 2) / template_h))
  px=$((((2 * x + w) * base_x + 4) / 8))
  py=$((((2 * y + h) * base_y + 8) / 16))
  xdotool mousemove --window "$id" "$px" "$py" click "$button"
}

# The options view's dialog template is 317 x 214 dialog units.
click_options_control() {
  local id
  id=$(find_window "$OPTIONS_ANY")
  [ -n "$id" ] || { echo "  options view not shown"; return 1; }
  click_control "$id" 317 214 "$@"
}

# Starts the program and goes through the welcome dialog with Enter and the
# first-showing "Framory Pausing..." box, leaving the options view shown with
# the recorder paused.
start_and_open_project() {
  start_framory
  open_project
}
# The same with the program's files limited to $1 KB, the way a full disk
# stops them (the program ignores SIGXFSZ and reports EFBIG), for where the
# test may not mount a small file system.
start_limited_and_open_project() {
  (ulimit -f "$1" && exec "$FRAMORY_BIN") >"$E2E_ROOT/framory.log" 2>&1 &
  FRAMORY_PID=$!
  FRAMORY_STATUS=""
  open_project
}
# Mounts a tmpfs of size $1 (e.g. 8m) on the results folder when the test may
# mount one, and sets MOUNTED to 1 if it did; it is taken down at the end.
mount_small_results() {
  mkdir -p "$RESULTS_DIR"
  MOUNTED=0
  if mount -t tmpfs -o size="$1" tmpfs "$RESULTS_DIR" 2>/dev/null; then
    MOUNTED=1
  fi
  trap 'unmount_results; e2e_cleanup' EXIT
}
unmount_results() { [ "$MOUNTED" = 1 ] && umount -l "$RESULTS_DIR" 2>/dev/null; }
# The same for a program already started.
open_project() {
  require "the welcome dialog appears" wait_window "$WELCOME"
  require "Enter on the welcome dialog starts the project" press_in_window "$WELCOME" Return
  require "the options view appears, paused" wait_window "$OPTIONS_PAUSED"
  require "the 'Framory Pausing...' box appears" wait_window "$PAUSING_BOX"
  require "Enter closes the 'Framory Pausing...' box" dismiss_box "$PAUSING_BOX"
}

# Toggles the recorder with Ctrl+Shift and waits until the options view's
# title shows the expected state ("Active" or "Paused").
toggle_recorder_to() {
  local want="$OPTIONS_ACTIVE"
  [ "$1" = Paused ] && want="$OPTIONS_PAUSED"
  chord_ctrl_shift
  wait_window "$want"
}

# Ends the program with Esc in the options view and checks a clean exit.
exit_with_escape() {
  require "Esc in the options view is accepted" press_in_window "$OPTIONS_ANY" Escape
  require "the program ends after Esc" wait_framory_exit
  check "the exit status is 0 (got $FRAMORY_STATUS)" test "$FRAMORY_STATUS" = 0
}

# The desktop's opener, standing in for xdg-open on the search path: it
# notes each thing it is asked to open, one per line, in $E2E_ROOT/opened.
use_noting_opener() {
  mkdir -p "$E2E_ROOT/bin"
  cat >"$E2E_ROOT/bin/xdg-open" <<OPENER
#!/bin/sh
printf '%s\n' "\$1" >>"$E2E_ROOT/opened"
OPENER
  chmod +x "$E2E_ROOT/bin/xdg-open"
  export PATH="$E2E_ROOT/bin:$PATH"
}

screen_size() { xwininfo -root | awk '/^ +Width:/ {w=$2} /^ +Height:/ {h=$2} END {print w "x" h}'; }

# The tray: a freedesktop (XEmbed) tray host in the session, trayer docked at
# the top right corner. Qt docks its icon there as a small window of the
# program, and takes it out again when the icon is removed.
tray_host_window() {
  local id
  for id in $(xdotool search --onlyvisible --name '^panel$' 2>/dev/null); do
    if xprop -id "$id" WM_CLASS 2>/dev/null | grep -q '"trayer"'; then
      echo "$id"
      return 0
    fi
  done
}
tray_host_shown() { [ -n "$(tray_host_window)" ]; }
start_tray_host() {
  trayer --edge top --align right --widthtype request --height 32 --SetDockType true \
    --transparent false >"$E2E_ROOT/trayer.log" 2>&1 &
  E2E_HELPER_PIDS+=($!)
  wait_until "$E2E_WAIT" tray_host_shown
}

# The window in which framory draws its tray icon, printed as its id; nothing
# while the tray host holds no icon of framory.
tray_icon_window() {
  local host
  host=$(tray_host_window)
  [ -n "$host" ] || return 0
  xwininfo -tree -id "$host" 2>/dev/null | awk '/\("framory" / {print $1; exit}'
}
tray_icon_shown() { [ -n "$(tray_icon_window)" ]; }
tray_icon_gone() { [ -z "$(tray_icon_window)" ]; }

# Clicks the tray icon window with a button (1 left, 3 right), as many times
# as asked in a row, then moves the pointer off the icon so that no tool tip
# covers it.
click_tray_icon() {
  local button="$1" repeat="${2:-1}" id
  id=$(tray_icon_window)
  [ -n "$id" ] || { echo "  no tray icon"; return 1; }
  xdotool mousemove --window "$id" 11 11 click --repeat "$repeat" --delay 80 "$button" \
    mousemove 960 1000
}

# How many pixels of the icon's window are near the given colour.
tray_icon_pixels() {
  local id
  id=$(tray_icon_window)
  [ -n "$id" ] || { echo 0; return 1; }
  import -window "$id" png:- 2>/dev/null |
    convert - -alpha off -fuzz 15% -fill black +opaque "$1" -fill white -opaque "$1" \
      -format '%[fx:round(mean*w*h)]' info: 2>/dev/null
}
# The paused icon (129) carries a yellow box with the letter P; the active
# icon (107) has none, only the film strip with the red record dot.
TRAY_P_YELLOW='#FFD23F'
TRAY_DOT_RED='#E23B3B'
tray_icon_paused() { [ "$(tray_icon_pixels "$TRAY_P_YELLOW")" -ge 20 ] 2>/dev/null; }
tray_icon_active() {
  [ "$(tray_icon_pixels "$TRAY_P_YELLOW")" -eq 0 ] 2>/dev/null &&
    [ "$(tray_icon_pixels "$TRAY_DOT_RED")" -ge 5 ] 2>/dev/null
}

# Keeps part of the screen moving: a small test-pattern player in the top-left
# corner, for tests that need every periodic shot to see a new picture (an
# unchanged screen is stored as repeats of the previous frame). Stopped with
# the other helpers at the end. Started once, before the program, so that its
# window appearing cannot come between a test's chord and its check.
start_motion() {
  [ -n "${E2E_MOTION_STARTED:-}" ] && return 0
  E2E_MOTION_STARTED=1
  ffplay -loglevel quiet -noborder -left 0 -top 0 -x 160 -y 120 -an \
    -f lavfi -i "testsrc=size=160x120:rate=25" >/dev/null 2>&1 &
  E2E_HELPER_PIDS+=($!)
  motion_shown() { xdotool search --name '^testsrc' >/dev/null 2>&1 || xdotool search --class ffplay >/dev/null 2>&1; }
  wait_until "$E2E_WAIT" motion_shown
}
